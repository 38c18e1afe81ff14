#pragma once
#include <QString>

namespace lomex::paths {

// Where Lomex keeps its files on Linux. Read from the environment at each call, so tests
// can point HOME and the XDG variables at temporary folders.
QString home();           // $HOME, else the passwd entry
QString configHome();     // $XDG_CONFIG_HOME or ~/.config
QString dataHome();       // $XDG_DATA_HOME or ~/.local/share
// $XDG_RUNTIME_DIR; else $TMPDIR (or /tmp)/lomex-<uid> while that is a private folder of ours,
// else ~/.cache/Lomex/run while that is; else empty (no private folder found).
QString runtimeDir();

QString configDir();      // configHome()/Lomex  (settings.json)
QString dataDir();        // dataHome()/Lomex    (the app's own files)
QString settingsFile();   // configDir()/settings.json

// Creates the folder (and parents) with mode 0700 where it has to make it.
bool ensureDir(const QString& path);

// A folder that exists and that we may list and read (a file store's "access").
bool isReadableDir(const QString& path);

// The folder named by an environment variable when set (a leading "~" expanded), else fallback.
QString folderFromEnv(const char* variable, const QString& fallback);

// Replaces a leading "~" or "~/" with the home folder.
QString expandTilde(const QString& path);

} // namespace lomex::paths
