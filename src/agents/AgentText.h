#pragma once
#include "agents/ToolActivity.h"
#include "platform/RunningApps.h"
#include <QHash>
#include <QString>
#include <optional>

namespace lomex {

// The agent views' own two-language helper: status words pass through t(), not the keyed
// table. Language by L10n::shared().resolved().
class AgentText {
public:
    // English unchanged; in Czech "Using x" gives "Používá x", a word of cs() its Czech form,
    // anything else comes back unchanged.
    static QString t(const QString& english);
    // The sixteen English status words with their Czech forms.
    static const QHash<QString, QString>& cs();

    // "1 tool call" / "n tool calls"; Czech "n nástroj", "n nástroje" (2–4), "n nástrojů".
    static QString toolCalls(qint64 n);
    // "+n lines" of a text shown by its first line ("+1 řádek", "+3 řádky", "+9 řádků").
    static QString moreLines(int n);
    // "May I use <tool><suffix>?" / "Smím použít <tool><suffix>?".
    static QString mayIUse(const QString& tool, const QString& suffix);
    // The same question for a tool call: its display name, then ": " and the detail if any.
    static QString mayIUse(const ToolActivity& tool);
    // For a call with a command: when the detail is the command's first line, it says how many
    // lines follow ("May I use Bash: git status (+61 lines)?").
    static QString mayIUse(const ToolActivity& tool, const std::optional<QString>& command);
    // "<name> needs your attention" / "<name> potřebuje tvou pozornost".
    static QString needsAttention(const QString& agentName);

    // The running application that hosts a session: the one with the hook's desktop id when
    // it runs, else the one the terminal name maps to (see terminalDesktopID). Nothing when
    // no candidate runs.
    static std::optional<RunningApplication> hostApp(const std::optional<QString>& bundleID,
                                                     const std::optional<QString>& termProgram,
                                                     const RunningApps* apps = nullptr);
    // The desktop id of a terminal by its TERM_PROGRAM name ("vscode" -> "code.desktop");
    // nothing for names without a Linux application.
    static std::optional<QString> terminalDesktopID(const QString& termProgram);
};

} // namespace lomex
