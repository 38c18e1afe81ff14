#pragma once
#include <QUrl>
#include <functional>

namespace lomex::weblinks {

// Opens a web page in the user's default browser (QDesktopServices, i.e. xdg-open).
// Returns false when nothing could be asked to open it.
bool open(const QUrl& url);

// Tests: calls go to the recorder instead of the browser while one is set.
void setRecorder(std::function<void(const QUrl&)> recorder);

} // namespace lomex::weblinks
