#pragma once
#include <QString>

namespace lomex::agentcli {

// Where the coding agent's command-line tool `claude` is: the first executable "claude" on PATH,
// else ~/.local/bin/claude (where its own installer puts it); empty when neither is an
// executable file. Looked up at each call, so installing or removing the tool shows at once.
QString claudeExecutable();

// The path the official installer writes, whether or not it exists.
QString claudeDefaultPath();

// A text as one word of a POSIX shell command line (single-quoted), for the command lines the
// agents run through their shell (status line, setup script).
QString shellQuoted(const QString& text);

} // namespace lomex::agentcli
