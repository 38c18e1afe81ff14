#pragma once
#include "platform/ContactStore.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QUuid>
#include <optional>

namespace lomex {

class Calendar;
class Clock;
class Timer;
class Workspace;

// Contacts' birthdays and Czech name days falling today or on one of the next seven days. One
// instance, owned by the app delegate; state on the GUI thread, the scan on a worker thread.
// It reads no setting: the views decide whether occasions are shown.
class ContactsService : public QObject {
    Q_OBJECT
public:
    struct Occasion {
        enum class Kind { nameDay, birthday };
        QUuid id;
        QString name;
        Kind kind = Kind::nameDay;
        QDateTime date; // start of the day
        std::optional<int> age;
        // id and age take no part.
        bool operator==(const Occasion& o) const { return name == o.name && kind == o.kind && date == o.date; }
    };

    static constexpr double tickSeconds = 1800;
    static constexpr int windowDays = 8; // today and the next seven

    explicit ContactsService(ContactStore* store = nullptr, Clock* clock = nullptr, Workspace* workspace = nullptr,
                             QObject* parent = nullptr);
    // Waits for scans still reading the store: it may go away right after the service.
    ~ContactsService() override;

    bool access() const { return access_; }
    const QList<Occasion>& upcoming() const { return upcoming_; }

    void start();
    void reload(bool force);
    void requestAccess();

    // One full scan of the given contacts, as of now; runs on any thread.
    static QList<Occasion> compute(const QList<Contact>& contacts, const QDateTime& now, const Calendar& calendar);

Q_SIGNALS:
    void accessChanged();
    void upcomingChanged();

private:
    void setAccess(bool access);
    void publish(quint64 scan, QList<Occasion> occasions);

    ContactStore* store_;
    Clock* clock_;
    Workspace* workspace_;
    Timer* timer_ = nullptr;
    bool access_ = false;
    QList<Occasion> upcoming_;
    std::optional<QDateTime> lastLoad_;
    // Scans are numbered: one that started before the last published one, or before access was
    // lost, never publishes.
    quint64 scansStarted_ = 0;
    quint64 scanPublished_ = 0;
    QList<QFuture<QList<Occasion>>> scans_;
};

} // namespace lomex
