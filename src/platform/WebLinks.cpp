#include "platform/WebLinks.h"
#include <QDesktopServices>

namespace lomex::weblinks {

namespace {
std::function<void(const QUrl&)>& recorder() {
    static std::function<void(const QUrl&)> r;
    return r;
}
} // namespace

bool open(const QUrl& url) {
    if (recorder()) {
        recorder()(url);
        return true;
    }
    return QDesktopServices::openUrl(url);
}

void setRecorder(std::function<void(const QUrl&)> r) { recorder() = std::move(r); }

} // namespace lomex::weblinks
