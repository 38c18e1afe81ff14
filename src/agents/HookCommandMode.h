#pragma once
#include <QStringList>

namespace lomex {

// "--hook-command EVENT": prints the Claude Code hook command line for the event (the permission
// command for "PermissionRequest", the ordinary one otherwise) at port 7841, then a newline.
// args are the arguments after the flag. Returns the exit code.
int hookCommandMode(const QStringList& args);

} // namespace lomex
