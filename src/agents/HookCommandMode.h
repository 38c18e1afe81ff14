#pragma once
#include <QStringList>

namespace lomex {

// "--hook-command EVENT": prints the Claude Code hook command line for the event (the permission
// command for "PermissionRequest", the ordinary one otherwise) at port 7841, then a newline.
// args are the arguments after the flag. Returns the exit code: 64, with the known events on
// stderr, when EVENT is not one of them.
int hookCommandMode(const QStringList& args);

} // namespace lomex
