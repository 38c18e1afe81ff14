#pragma once
#include <QString>

namespace lomex::agentcli {

// Where the coding agent's command-line tool `claude` is: the first executable "claude" on PATH,
// else ~/.local/bin/claude (where its own installer puts it); empty when neither is an
// executable file. Looked up at each call, so installing or removing the tool shows at once.
QString claudeExecutable();

// The path the official installer writes, whether or not it exists.
QString claudeDefaultPath();

} // namespace lomex::agentcli
