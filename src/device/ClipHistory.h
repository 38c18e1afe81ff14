#pragma once
#include "device/Clip.h"
#include <QList>
#include <QString>
#include <atomic>
#include <optional>

namespace lomex::cliphistory {

// The history's files in its folder: "clips.json", a JSON array of the clips newest first,
// and beside it one "<uuid>.<ext>" per image and one "<uuid>.txt" per long text. A long
// text kept out of the list keeps the list small, so saving it after a copy costs little
// however large the history is, and the list always reads back.

inline const QString kListFile = QStringLiteral("clips.json");

// A text whose JSON form is longer than this is kept in a file of its own; the list holds
// a head of it of at most kHeadBytes (in JSON form, where a control character takes six).
inline constexpr qsizetype kInlineBytes = 1024;
inline constexpr qsizetype kHeadBytes = 256;
// One element of a list larger than this is skipped unread: an earlier version kept texts in
// the list, at most 256 K characters of six bytes each.
inline constexpr qsizetype kMaxElementBytes = 16 << 20;

bool needsOwnFile(const QString& text);
QString head(const QString& text);
QByteArray digestOf(const QByteArray& bytes);
QString newFileName(const QString& extension);

// Every byte the history writes goes through here; the count lets tests and benchmarks see
// what one change costs.
std::optional<QString> writeFile(const QString& path, const QByteArray& data);
qint64 bytesWritten();

struct Loaded {
    enum class State { absent, sound, partial, unreadable, cancelled };
    State state = State::absent;
    QList<Clip> clips;
    // Long texts were moved out of the list (a list of an earlier version) or clips were left
    // out: the list on disk differs from clips.
    bool changed = false;
};

// Reads the list element by element, never holding more than one: a list of any size from an
// earlier version is read as far as it is sound. Keeps at most maxClips clips, pinned ones
// first, the newest of the rest after; long texts still in the list are moved to files of their
// own. Images whose file is gone are left out. Stops soon after cancel is set.
Loaded load(const QString& folder, int maxClips, const std::atomic<bool>& cancel);

std::optional<QString> saveList(const QString& folder, const QList<Clip>& clips);

// Removes files of ours that no clip names (an image or text written just before a kill) and
// were last changed before olderThanMs (ms since the epoch), and our stale temporaries. While a
// list that did not read lies aside ("clips.json.corrupt…"), files are kept: it may name them.
// Returns how many files went.
int removeOrphans(const QString& folder, const QList<Clip>& clips, qint64 olderThanMs);

} // namespace lomex::cliphistory
