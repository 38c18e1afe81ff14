#pragma once
#include "QStringPrint.h"
#include "TestEnv.h"

#include <QByteArray>
#include <QDateTime>
#include <QTimeZone>
#include <ctime>
#include <optional>

namespace lomex::test {

// Sets TZ for the life of the object (Qt, ICU through Calendar::current() and the C library
// all follow it), then puts the old value back.
class ZoneScope {
public:
    explicit ZoneScope(const QByteArray& zone) : old_(qEnvironmentVariableIsSet("TZ") ? std::optional(qgetenv("TZ")) : std::nullopt) {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneScope() {
        if (old_) qputenv("TZ", *old_);
        else qunsetenv("TZ");
        tzset();
    }

private:
    std::optional<QByteArray> old_;
};

inline QDateTime prague(int y, int mo, int d, int h = 0, int mi = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi), QTimeZone("Europe/Prague"));
}

inline QString fixtures(const QString& relative) {
    return QStringLiteral(LOMEX_FIXTURES_DIR "/calendar/") + relative;
}

} // namespace lomex::test
