#pragma once
#include "feeds/Http.h"
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>
#include <optional>

namespace lomex {

class Clock;
class Timer;

// Looks for a newer release in the update feed set at build time (CMake LOMEX_UPDATE_URL; a
// build without one makes no request at all). Owned by the delegate; GUI thread.
class UpdateChecker : public QObject {
    Q_OBJECT
public:
    struct Release {
        QString version;
        QString url;
        std::optional<QString> notes_cs;
        std::optional<QString> notes_en;
        bool operator==(const Release&) const = default;
    };

    // runningVersion: the version compared with the feed's; empty means this build's.
    explicit UpdateChecker(Clock* clock = nullptr, QObject* parent = nullptr, QString runningVersion = {});
    ~UpdateChecker() override;

    static std::optional<QUrl> feedURL();
    // The running version.
    static QString currentVersion();
    // Numeric by dotted component ("1.10" is newer than "1.9"); a missing component counts 0.
    static int compareVersions(const QString& a, const QString& b);

    // First check 20 seconds from now, then every 24 hours.
    void start();

    const std::optional<Release>& available() const { return available_; }
    // The time of the last check that got an answer it could read.
    const std::optional<QDateTime>& lastCheck() const { return lastCheck_; }

    void check();
    // Opens the release's download page; only an https link is opened.
    void openDownload();

    http::Client* client() const { return client_; }

Q_SIGNALS:
    void availableChanged();
    void lastCheckChanged();

private:
    Clock* clock_;
    http::Client* client_;
    Timer* timer_;
    http::LoadCounter checks_;
    std::optional<Release> available_;
    std::optional<QDateTime> lastCheck_;
    QString runningVersion_;
};

} // namespace lomex
