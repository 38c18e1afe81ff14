#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>
#include <vector>

namespace lomex::fileio {

// The complete lines found in the last bytes of a file. Other programs append to the files read
// this way (agent transcripts), so only a bounded window at the end is ever read.
struct TailLines {
    struct Line {
        qint64 offset = 0;    // byte offset of the line's first byte in the file
        QByteArrayView text;  // the line without its "\n"; points into `bytes`
    };
    QByteArray bytes;         // the bytes read
    std::vector<Line> lines;  // non-empty lines, oldest first
    qint64 fileSize = 0;
};

// Reads at most `window` bytes from the end of a regular file (a FIFO, device or folder is
// refused), opened non-blocking, with positioned reads. When the window does not start at the
// beginning of the file, the line it starts in is dropped unless the window starts exactly at a
// line's start, so a window that begins inside a line or inside a multi-byte character still
// gives every whole line after it. Nothing when the file cannot be opened or read.
std::optional<TailLines> readTailLines(const QString& path, qint64 window);

} // namespace lomex::fileio
