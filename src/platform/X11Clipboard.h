#pragma once
// Reading the desktop clipboard over X11 without Qt's clipboard, so it can run on any thread.
// Internal to src/platform (QtClipboard uses it).
#include "platform/Clipboard.h"
#include <optional>

namespace lomex::x11clipboard {

// Reads the CLIPBOARD over a connection of its own: the offered targets first, the markers,
// then only the data that fits the limits, everything within budgetMs. Nothing when no X
// display can be reached.
std::optional<ClipboardContent> read(const ClipboardLimits& limits, int budgetMs);

// The URLs of a text/uri-list (comment lines skipped).
QList<QUrl> urisFrom(const QByteArray& list);

} // namespace lomex::x11clipboard
