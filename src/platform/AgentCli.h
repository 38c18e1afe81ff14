#pragma once
#include "core/JsonFile.h"
#include <QString>
#include <QStringList>

namespace lomex::agentcli {

// The loopback port of the app's hook server, which the hooks and the status-line command post to.
constexpr quint16 hookPort = 7841;

// Codex's home: $CODEX_HOME (with "~" expanded) when set and not empty, else ~/.codex.
QString codexHome();

// Texts that mark what we write into the agents' own files: the marker in our hook command
// lines and the flag of our status-line command.
QStringList ownMarkers();

// The backup beside an agent's file we rewrite: its full name with this appended after a dot.
constexpr const char* backupExtension = "lomex.bak";

// How we edit an agent's own JSON file: a backup that keeps the user's own last version (never
// one holding our marks), the file's mode and links kept, a read-only file refused.
jsonfile::EditOptions agentFileOptions(bool onlyExisting = false);

// Where a coding agent's command-line tool (`claude`, `codex`) is: the first executable of that
// name on PATH, else in ~/.local/bin (where Claude Code's own installer and user-level installs
// put it); empty when neither is an executable file. Looked up at each call, so installing or
// removing the tool shows at once.
QString agentExecutable(const QString& name);
// agentExecutable("claude").
QString claudeExecutable();

// The path the official installer writes, whether or not it exists.
QString claudeDefaultPath();

// A text as one word of a POSIX shell command line (single-quoted), for the command lines the
// agents run through their shell (status line, setup script).
QString shellQuoted(const QString& text);

} // namespace lomex::agentcli
