#pragma once
#include "settings/SettingsPage.h"
#include <QPointer>
#include <functional>
#include <optional>

class QVBoxLayout;

namespace lomex {

class UpdateChecker;

// The application's name, version and credits, the third-party notices, the setup guide and
// the product's web pages, and, in a build with an update feed, the update state.
class AboutPage : public SettingsPage {
    Q_OBJECT
public:
    AboutPage(UpdateChecker* updates, std::function<void()> openSetup, QWidget* parent = nullptr);

    // The running version, or "–" when the build carries none.
    static QString versionText();
    // The bundled notices as a file the desktop can open (copied out of the resources when
    // missing or different); nothing when there are none or they cannot be written.
    static std::optional<QString> noticesFile();
    static QUrl webPage();
    static QUrl privacyPage();

    QWidget* updateSection() const { return updateSection_; }
    // Says under the links when the last one could not be opened; hidden otherwise.
    QLabel* linkError() const { return linkError_; }

private:
    void rebuildUpdate();
    void openLink(const QUrl& url);

    QPointer<UpdateChecker> updates_;
    std::function<void()> openSetup_;
    QWidget* updateSection_ = nullptr;
    QLabel* linkError_ = nullptr;
};

} // namespace lomex
