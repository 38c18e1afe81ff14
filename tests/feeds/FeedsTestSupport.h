#pragma once
#include "FakeHttpServer.h"
#include "QStringPrint.h"
#include "TestEnv.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "feeds/Endpoints.h"
#include "FakeClock.h"
#include <QFile>
#include <QTimeZone>

namespace lomex::test {

inline QByteArray fixture(const QString& name) {
    QFile f(QStringLiteral(LOMEX_FIXTURES_DIR "/feeds/") + name);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

inline FakeHttpServer::Reply json(const QByteArray& body, int status = 200) {
    return {status, body, {{"Content-Type", "application/json"}}};
}

// A temporary HOME, a fake clock at 2026-03-02 10:00 Prague time, and every feed pointed at
// one loopback fake server.
class FeedsTest : public LomexTest {
protected:
    FeedsTest() {
        EXPECT_TRUE(server.listen());
        using S = endpoints::Service;
        for (S s : {S::golemio, S::pidStops, S::transitous, S::forecast, S::geocoding})
            endpoints::setOverride(s, QUrl(server.baseUrl()));
        endpoints::setOverride(S::chmi, QUrl(server.baseUrl() + "/meteorology/weather/alerts/cap/"));
        Settings::shared().registerLaunchDefaults();
    }
    ~FeedsTest() override { endpoints::clearOverrides(); }

    Settings& settings() { return Settings::shared(); }
    static QDateTime prague(int h, int m, int s = 0) {
        return QDateTime(QDate(2026, 3, 2), QTime(h, m, s), QTimeZone("Europe/Prague"));
    }

    FakeClock clock{prague(10, 0)};
    FakeHttpServer server;
};

} // namespace lomex::test
