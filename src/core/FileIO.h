#pragma once
#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace lomex::fileio {

struct WriteOptions {
    // Mode of a file that does not exist yet; it is created with this mode from the start.
    unsigned newFileMode = 0600;
    // An existing file keeps its own mode.
    bool keepExistingMode = true;
    // A path that is a symbolic link, or a chain of them, is written through: every link stays,
    // the final target is replaced.
    bool followSymlink = true;
    // An existing file whose owner may not write it (the user made it read-only) is left as
    // it is and the write fails, although the folder would let us replace it.
    bool refuseReadOnly = false;
    // Waits until the new content is on the disk before the rename. A file that is made again
    // whenever it is missing or unreadable (a token) can skip the wait, which may take a loaded
    // disk a fraction of a second.
    bool flushToDisk = true;
};

// Writes the whole file atomically: a temporary file in the same folder, flushed to disk (unless
// the options say it need not be), then renamed over the target. A reader sees either the old or
// the new content, never a part.
// Returns an error text naming the file, or nothing on success.
std::optional<QString> writeAtomically(const QString& path, const QByteArray& data,
                                       const WriteOptions& options = {});

// The path a chain of symbolic links ends at (the path itself when it is no link; the end
// need not exist). Nothing for a loop or a chain longer than the kernel follows.
std::optional<QString> finalTarget(const QString& path);

// Moves the file at path to a new name of its own beside it: base, then base-2, base-3, …;
// an existing file is never replaced. Returns the name used, or nothing when it failed.
std::optional<QString> moveAside(const QString& path, const QString& base);

// Reads at most maxBytes of a regular file (not a FIFO or device), opened non-blocking.
// Returns nothing when the file is missing, not regular, or unreadable.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes = 64 << 20,
                                          QString* error = nullptr);

// Reads a regular file (not a FIFO or device) in pieces of at most chunkBytes, handing each
// to fn; fn returns false to stop early. False when the file is missing, not regular or
// unreadable.
bool readRegularFileChunks(const QString& path, qint64 chunkBytes,
                           const std::function<bool(const char*, qsizetype)>& fn, QString* error = nullptr);

// Removes the temporaries writeAtomically leaves beside targetPath when the process dies between
// creating and renaming one (".<name>.tmp-XXXXXX"): only regular files of ours, and only those
// older than olderThanSeconds, so a write under way in another thread or process is left alone.
// Returns how many were removed.
int removeStaleTemporaries(const QString& targetPath, int olderThanSeconds = 10);

// Reads from a descriptor (a pipe, standard input) until its end, maxBytes, or timeLimitMs
// in all, whichever comes first: a writer that never stops or never closes cannot hold us.
QByteArray readStream(int fd, qint64 maxBytes, int timeLimitMs);

} // namespace lomex::fileio
