#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

namespace lomex::fileio {

struct WriteOptions {
    // Mode of a file that does not exist yet; it is created with this mode from the start.
    unsigned newFileMode = 0600;
    // An existing file keeps its own mode.
    bool keepExistingMode = true;
    // A path that is a symbolic link is written through: the link stays, its target is replaced.
    bool followSymlink = true;
};

// Writes the whole file atomically: a temporary file in the same folder, flushed to disk,
// then renamed over the target. A reader sees either the old or the new content, never a part.
// Returns an error text naming the file, or nothing on success.
std::optional<QString> writeAtomically(const QString& path, const QByteArray& data,
                                       const WriteOptions& options = {});

// Reads at most maxBytes of a regular file (not a FIFO or device), opened non-blocking.
// Returns nothing when the file is missing, not regular, or unreadable.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes = 64 << 20,
                                          QString* error = nullptr);

} // namespace lomex::fileio
