#pragma once
#include <QStringList>

namespace lomex {

// `lomex --uninstall-agents`: puts back what Lomex changed in the coding agents' files, for
// `make uninstall` to run before it removes the program: the user's own status line where the
// bridge runs this program, and our hook entries (as the monitoring switch removes them, with
// the switch stored off to match). Says which files changed; a file it cannot take is named on
// stderr and the exit code is 1, so the program is not removed while its bridge still runs it.
int uninstallAgentsMode(const QStringList& args);

} // namespace lomex
