// Fuzzes the hook event decoder with arbitrary bodies and query agents, checking the value's
// invariants on every decoded event.
#include "agents/HookEvent.h"
#include <cmath>
#include <cstdlib>

using namespace lomex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const char* agents[] = {"", "claude", "codex", "CURSOR", "cursor", "gemini"};
    FieldMap query;
    if (data[0] % 7 < 6)
        query[QStringLiteral("agent")] = QString::fromLatin1(agents[data[0] % 7]);
    const FieldMap headers{{QStringLiteral("x-term-program"), QStringLiteral("xterm")}};
    const QByteArray body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    const std::optional<HookEvent> event = HookEvent::decode(body, headers, query);
    if (!event)
        return 0;
    if (!event->toolInput.is_object())
        abort();
    for (const auto& suggestion : event->permissionSuggestions) {
        if (!suggestion.is_object())
            abort();
    }
    if (event->contextPercent) {
        const double p = *event->contextPercent;
        if (!(p > 0) || p > 100 || !std::isfinite(p) || event->agent != Agent::cursor)
            abort();
    }
    if (event->isCursorViaClaudeHook && event->agent != Agent::cursor)
        abort();
    if (event->termProgram != QStringLiteral("xterm"))
        abort();
    // Consumers copy and print the tool input; both must be safe.
    (void)nlohmann::json(event->toolInput).dump();
    return 0;
}
