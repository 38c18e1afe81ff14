#include "agents/AgentText.h"
#include "agents/TextCut.h"
#include "core/L10n.h"

namespace lomex {

namespace {
bool czech()
{
    return L10n::shared().isCzech();
}
} // namespace

const QHash<QString, QString>& AgentText::cs()
{
    static const QHash<QString, QString> table{
        {QStringLiteral("Ready"), QStringLiteral("Připraven")},
        {QStringLiteral("Thinking"), QStringLiteral("Přemýšlí")},
        {QStringLiteral("Waiting for you"), QStringLiteral("Čeká na tebe")},
        {QStringLiteral("Compacting context"), QStringLiteral("Zhušťuje kontext")},
        {QStringLiteral("Done"), QStringLiteral("Hotovo")},
        {QStringLiteral("Error"), QStringLiteral("Chyba")},
        {QStringLiteral("Running"), QStringLiteral("Spouští")},
        {QStringLiteral("Editing"), QStringLiteral("Upravuje")},
        {QStringLiteral("Reading"), QStringLiteral("Čte")},
        {QStringLiteral("Searching"), QStringLiteral("Hledá")},
        {QStringLiteral("Writing"), QStringLiteral("Píše")},
        {QStringLiteral("Fetching"), QStringLiteral("Stahuje")},
        {QStringLiteral("Researching"), QStringLiteral("Zkoumá")},
        {QStringLiteral("Delegating"), QStringLiteral("Deleguje")},
        {QStringLiteral("Planning"), QStringLiteral("Plánuje")},
        {QStringLiteral("Looking"), QStringLiteral("Prohlíží")},
    };
    return table;
}

QString AgentText::t(const QString& english)
{
    if (!czech())
        return english;
    static const QLatin1String using_("Using ");
    if (english.startsWith(using_))
        return QStringLiteral("Používá ") + english.mid(using_.size());
    return cs().value(english, english);
}

QString AgentText::toolCalls(qint64 n)
{
    const QString number = QString::number(n);
    if (!czech())
        return n == 1 ? QStringLiteral("1 tool call") : number + QStringLiteral(" tool calls");
    if (n == 1)
        return number + QStringLiteral(" nástroj");
    if (n >= 2 && n <= 4)
        return number + QStringLiteral(" nástroje");
    return number + QStringLiteral(" nástrojů");
}

QString AgentText::moreLines(int n)
{
    const QString key = n == 1 ? QStringLiteral("agents.moreLines.one")
        : (n >= 2 && n <= 4)   ? QStringLiteral("agents.moreLines.few")
                               : QStringLiteral("agents.moreLines");
    return L10n::shared().t(key, {n});
}

QString AgentText::mayIUse(const QString& tool, const QString& suffix)
{
    return (czech() ? QStringLiteral("Smím použít ") : QStringLiteral("May I use ")) + tool + suffix
        + QLatin1Char('?');
}

QString AgentText::mayIUse(const ToolActivity& tool)
{
    return mayIUse(tool.displayName(), tool.detail ? QStringLiteral(": ") + *tool.detail : QString());
}

QString AgentText::mayIUse(const ToolActivity& tool, const std::optional<QString>& command)
{
    if (command && tool.detail) {
        const int more = textcut::linesAfterFirst(*command);
        const auto first = textcut::firstLineShortened(*command, ToolActivity::detailLimit);
        if (more > 0 && first && textcut::showBidiControls(*first) == *tool.detail)
            return mayIUse(tool.displayName(), QStringLiteral(": ") + *tool.detail + QStringLiteral(" (")
                                                   + moreLines(more) + QLatin1Char(')'));
    }
    return mayIUse(tool);
}

QString AgentText::needsAttention(const QString& agentName)
{
    return agentName
        + (czech() ? QStringLiteral(" potřebuje tvou pozornost") : QStringLiteral(" needs your attention"));
}

std::optional<QString> AgentText::terminalDesktopID(const QString& termProgram)
{
    // Terminal.app and iTerm2 exist only on macOS; the others publish these desktop ids on Linux.
    if (termProgram == QLatin1String("vscode"))
        return QStringLiteral("code.desktop");
    if (termProgram == QLatin1String("WarpTerminal"))
        return QStringLiteral("dev.warp.Warp.desktop");
    if (termProgram == QLatin1String("ghostty"))
        return QStringLiteral("com.mitchellh.ghostty.desktop");
    return std::nullopt;
}

std::optional<RunningApplication> AgentText::hostApp(const std::optional<QString>& bundleID,
                                                     const std::optional<QString>& termProgram,
                                                     const RunningApps* apps)
{
    QStringList candidates;
    // An empty id names no application; it must not match a window without one.
    if (bundleID && !bundleID->isEmpty())
        candidates.append(*bundleID);
    if (termProgram) {
        if (std::optional<QString> mapped = terminalDesktopID(*termProgram))
            candidates.append(*mapped);
    }
    if (candidates.isEmpty())
        return std::nullopt;
    const QList<RunningApplication> running = (apps ? apps : RunningApps::current())->running();
    for (const QString& candidate : candidates) {
        for (const RunningApplication& app : running) {
            if (app.desktopID == candidate)
                return app;
        }
    }
    return std::nullopt;
}

} // namespace lomex
