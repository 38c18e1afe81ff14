#pragma once
#include <QString>
#include <optional>

namespace lomex {

// Reads what a finished Claude Code turn said from the end of its transcript (JSON lines).
struct Transcript {
    // Bytes read from the end of the file, however long the transcript has grown.
    static constexpr qint64 tailBytes = 262144;

    // The text of the last assistant reply in the transcript's tail, or nothing. A leading "~"
    // in the path is the home folder. Blocks on file input: call it off the GUI thread.
    static std::optional<QString> lastAssistantText(const QString& path);
};

} // namespace lomex
