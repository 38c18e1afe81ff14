#include "agents/APIErrorText.h"
#include "agents/TextCut.h"

namespace lomex::APIErrorText {

namespace {

QString label(const std::optional<QString>& code)
{
    static const struct {
        const char* code;
        const char* label;
    } labels[] = {
        {"rate_limit", "Rate limit reached"},
        {"overloaded", "API is overloaded"},
        {"authentication_failed", "Authentication failed"},
        {"oauth_org_not_allowed", "Organization not allowed"},
        {"account_on_hold", "Account on hold"},
        {"billing_error", "Billing problem"},
        {"invalid_request", "Invalid request"},
        {"model_not_found", "Model not found"},
        {"server_error", "API server error"},
        {"max_output_tokens", "Response hit the token limit"},
        {"cloud_credential_error", "Cloud credentials invalid"},
    };
    if (code) {
        for (const auto& row : labels) {
            if (*code == QLatin1String(row.code))
                return QString::fromLatin1(row.label);
        }
    }
    return QStringLiteral("API error");
}

} // namespace

QString describe(const std::optional<QString>& code, const std::optional<QString>& details,
                 const std::optional<QString>& message)
{
    const QString head = label(code);
    for (const std::optional<QString>& candidate : {details, message}) {
        if (!candidate)
            continue;
        const QString trimmed = candidate->trimmed();
        if (trimmed.isEmpty())
            continue;
        // A trimmed text always has a first line: it starts with a non-space character.
        const QString line = textcut::firstLineShortened(trimmed, 90).value_or(trimmed);
        return head + QStringLiteral(" \u00B7 ") + line;
    }
    return head;
}

} // namespace lomex::APIErrorText
