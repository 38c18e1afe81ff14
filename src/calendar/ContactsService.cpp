#include "calendar/ContactsService.h"
#include "core/Async.h"
#include "calendar/Calendar.h"
#include "calendar/CzechCalendar.h"
#include "platform/TextFold.h"
#include "core/Clock.h"
#include "platform/Workspace.h"

#include <QPointer>
#include <QSet>
#include <QUrl>
#include <algorithm>

namespace lomex {

ContactsService::ContactsService(ContactStore* store, Clock* clock, Workspace* workspace, QObject* parent)
    : QObject(parent),
      store_(store ? store : ContactStore::current()),
      clock_(clock ? clock : Clock::current()),
      workspace_(workspace ? workspace : Workspace::current()) {}

ContactsService::~ContactsService() {
    for (QFuture<QList<Occasion>>& scan : scans_) scan.waitForFinished();
}

void ContactsService::setAccess(bool access) {
    if (access == access_) return;
    access_ = access;
    emit accessChanged();
}

void ContactsService::start() {
    setAccess(store_->hasAccess());
    reload(false);
    connect(store_, &ContactStore::changed, this, [this] { reload(true); });
    timer_ = new Timer(clock_, this);
    connect(timer_, &Timer::timeout, this, [this] { reload(false); });
    timer_->start(tickSeconds, true);
}

void ContactsService::reload(bool force) {
    setAccess(store_->hasAccess());
    if (!access_) {
        scanPublished_ = scansStarted_; // scans under way must not publish now
        if (!upcoming_.isEmpty()) {
            upcoming_.clear();
            emit upcomingChanged();
        }
        return;
    }
    const Calendar cal = Calendar::current();
    const QDateTime now = clock_->now();
    if (!force && lastLoad_ && cal.isSameDay(*lastLoad_, now)) return;
    lastLoad_ = now;
    const quint64 scan = ++scansStarted_;
    ContactStore* store = store_;
    scans_.removeIf([](const QFuture<QList<Occasion>>& f) { return f.isFinished(); });
    scans_.append(runThen(this, [store, now, cal] {
        bool failed = false;
        // A failed enumeration still gives the contacts read until then.
        return compute(store->contacts(&failed), now, cal);
    }, [this, scan](QList<Occasion> occasions) { publish(scan, std::move(occasions)); }));
}

void ContactsService::publish(quint64 scan, QList<Occasion> occasions) {
    if (scan <= scanPublished_ || !access_) return;
    scanPublished_ = scan;
    upcoming_ = std::move(occasions);
    emit upcomingChanged();
}

void ContactsService::requestAccess() {
    store_->requestAccess();
    QPointer<ContactsService> self(this);
    QMetaObject::invokeMethod(this, [self] {
        if (!self) return;
        self->setAccess(self->store_->hasAccess());
        if (!self->access_) self->workspace_->open(QUrl::fromLocalFile(self->store_->location()));
        self->reload(true);
    }, Qt::QueuedConnection);
}

QList<ContactsService::Occasion> ContactsService::compute(const QList<Contact>& contacts, const QDateTime& now,
                                                          const Calendar& cal) {
    struct Day {
        QDateTime date;
        Calendar::Components parts;
        QSet<QString> names;
    };
    QList<Day> window;
    const QDateTime today = cal.startOfDay(now);
    for (int offset = 0; offset < windowDays; ++offset) {
        Day day;
        day.date = cal.startOfDay(cal.addingDays(offset, today));
        day.parts = cal.components(day.date);
        for (const QString& piece : CzechCalendar::nameDay(day.date, cal).value_or(QString()).split(u',', Qt::SkipEmptyParts)) {
            // Blanks and tabs only, as the table writes them.
            QString name = piece;
            while (!name.isEmpty() && (name.front() == u' ' || name.front() == u'\t')) name.remove(0, 1);
            while (!name.isEmpty() && (name.back() == u' ' || name.back() == u'\t')) name.chop(1);
            if (!name.isEmpty()) day.names.insert(textfold::fold(name));
        }
        window.append(day);
    }

    QList<Occasion> out;
    for (const Contact& c : contacts) {
        QStringList parts;
        if (!c.givenName.isEmpty()) parts << c.givenName;
        if (!c.familyName.isEmpty()) parts << c.familyName;
        const QString name = parts.join(u' ');
        if (name.isEmpty()) continue;
        const QString given = textfold::fold(c.givenName);
        if (!given.isEmpty())
            for (const Day& day : window)
                if (day.names.contains(given))
                    out.append(Occasion{QUuid::createUuid(), name, Occasion::Kind::nameDay, day.date, std::nullopt});
        if (c.birthday && c.birthday->month > 0 && c.birthday->day > 0)
            for (const Day& day : window) {
                if (day.parts.month != c.birthday->month || day.parts.day != c.birthday->day) continue;
                std::optional<int> age;
                // A birth year after the day itself is an error in the card, not a negative age.
                if (c.birthday->year && day.parts.year >= *c.birthday->year) age = day.parts.year - *c.birthday->year;
                out.append(Occasion{QUuid::createUuid(), name, Occasion::Kind::birthday, day.date, age});
            }
    }
    std::stable_sort(out.begin(), out.end(), [](const Occasion& a, const Occasion& b) {
        if (a.date != b.date) return a.date < b.date;
        const int ka = a.kind == Occasion::Kind::birthday ? 0 : 1;
        const int kb = b.kind == Occasion::Kind::birthday ? 0 : 1;
        if (ka != kb) return ka < kb;
        // Plain code-point order after canonical normalisation, not a locale's collation.
        return a.name.normalized(QString::NormalizationForm_C).toUcs4() < b.name.normalized(QString::NormalizationForm_C).toUcs4();
    });
    return out;
}

} // namespace lomex
