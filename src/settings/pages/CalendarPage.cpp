#include "settings/pages/CalendarPage.h"
#include "calendar/ContactsService.h"
#include "calendar/EventService.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "platform/CalendarStore.h"
#include "platform/Workspace.h"
#include "settings/blocks/Blocks.h"
#include "settings/blocks/Controls.h"
#include "settings/blocks/Style.h"

#include <QFileInfo>
#include <QPushButton>

namespace lomex {

namespace {
constexpr int kAgendaPickerWidth = 260;
const QString kAgendaDays = QStringLiteral("agendaDays");
} // namespace

QPushButton* allowButton(const QString& text, QWidget* parent) {
    auto* b = blockButton(text, ButtonKind::prominent, {}, parent);
    b->setFont(style::font(style::body, QFont::DemiBold));
    return b;
}

QList<QPair<QString, QString>> CalendarPage::agendaChoices() {
    const L10n& l = L10n::shared();
    return {{l.t(QStringLiteral("agenda.today")), QStringLiteral("1")},
            {l.t(QStringLiteral("agenda.n"), {2}), QStringLiteral("2")},
            {l.t(QStringLiteral("agenda.n"), {3}), QStringLiteral("3")},
            {l.t(QStringLiteral("agenda.week")), QStringLiteral("7")}};
}

CalendarPage::CalendarPage(EventService* events, ContactsService* contacts, QWidget* parent)
    : SettingsPage(parent), events_(events), contacts_(contacts) {
    const L10n& l = L10n::shared();
    calendarCard_ = add(new Card);
    contactsCard_ = add(new Card);
    buildAccess();
    // The rows turn from a button into a badge or a switch as soon as access is granted.
    connect(events_, &EventService::accessChanged, this, &CalendarPage::buildAccess);
    connect(contacts_, &ContactsService::accessChanged, this, &CalendarPage::buildAccess);
    connect(events_, &EventService::eventsChanged, this, [this] {
        if (events_->skippedSeries() != shownSkipped_) buildAccess();
    });

    // Name days, the agenda range and contacts' occasions only fill lists that no view of this
    // version shows: their controls are disabled and keep what is stored.
    const QString missing = l.t(QStringLiteral("settings.notInVersion"));
    auto* agenda = add(new Card);
    auto* nameDays = agenda->add(new ToggleRow(l.t(QStringLiteral("settings.nameDays")), {},
                                               settingBool(QStringLiteral("showNameDays"), true)));
    nameDays->toggle()->setObjectName(QStringLiteral("showNameDays"));
    nameDays->markNotInVersion(missing);
    // Choosing the segment already chosen stores nothing; a new range reloads the agenda at once.
    Binding<QString> days{[] { return QString::number(Settings::shared().intValue(kAgendaDays, 1)); },
                          [](const QString& value) {
                              Settings& s = Settings::shared();
                              if (s.isStored(kAgendaDays) && QString::number(s.intValue(kAgendaDays)) == value) return;
                              if (!s.isStored(kAgendaDays) && value == QLatin1String("1")) return;
                              s.setInt(kAgendaDays, value.toInt());
                          },
                          kAgendaDays};
    auto* picker = new SegmentedPicker(agendaChoices(), days);
    picker->setObjectName(QStringLiteral("agendaDays"));
    picker->setFixedWidth(kAgendaPickerWidth);
    whenSettingChanges(this, kAgendaDays, [this] { events_->refresh(); });
    agenda->add(new Row(l.t(QStringLiteral("agenda.days")), l.t(QStringLiteral("agenda.days.detail")), picker))
        ->markNotInVersion(missing);
    auto* lead = new Stepper(1, 60, QStringLiteral("min"), settingInt(QStringLiteral("meetingLead"), 10));
    lead->setObjectName(QStringLiteral("meetingLead"));
    agenda->add(new Row(l.t(QStringLiteral("settings.meetingLead")), {}, lead));
}

void CalendarPage::buildAccess() {
    const L10n& l = L10n::shared();
    // While access is missing, a button that asks for it; then what the access gives.
    auto row = [&](Card* card, const char* title, const char* detail, bool granted, const char* button,
                   auto request, auto makeGranted) {
        card->box()->clearRows();
        QWidget* trailing;
        if (granted) {
            trailing = makeGranted();
        } else {
            QPushButton* allow = allowButton(l.t(QStringLiteral("setup.allow")));
            allow->setObjectName(QString::fromLatin1(button));
            connect(allow, &QPushButton::clicked, this, request);
            trailing = allow;
        }
        return card->add(new Row(l.t(QString::fromLatin1(title)), l.t(QString::fromLatin1(detail)), trailing));
    };
    Row* calendarRow = row(calendarCard_, "setup.cal.title", "setup.cal.text",
                           events_->eventsAccess() && events_->remindersAccess(), "allowCalendar",
                           [this] { events_->requestAccess(); },
                           [&]() -> QWidget* { return new StatusBadge(true, l.t(QStringLiteral("setup.done"))); });
    // "Allow" makes a folder of its own: say which, and that one kept by a sync tool can be used.
    if (const QString folder = events_->store() ? events_->store()->location() : QString(); !folder.isEmpty()) {
        calendarRow->setTexts(l.t(QStringLiteral("setup.cal.title")),
                              l.t(QStringLiteral("setup.cal.text")) + QLatin1Char('\n') +
                                  l.t(QStringLiteral("calendar.folder"), {folder}));
        auto* open = blockButton(l.t(QStringLiteral("calendar.openFolder")), ButtonKind::bordered, {}, calendarRow);
        open->setObjectName(QStringLiteral("openCalendarFolder"));
        // Until "Allow" made it, the folder may not exist: its parent is what can be shown.
        connect(open, &QPushButton::clicked, this, [folder] {
            QString shown = folder;
            while (!QFileInfo(shown).isDir() && QFileInfo(shown).path() != shown) shown = QFileInfo(shown).path();
            Workspace::current()->open(QUrl::fromLocalFile(shown));
        });
        calendarRow->addUnderTexts(open);
    }
    // Series whose rules are not followed are said here, not only in the log.
    shownSkipped_ = events_->skippedSeries();
    if (events_->eventsAccess() && shownSkipped_.count > 0) {
        auto* skipped = calendarCard_->add(new Row(l.t(QStringLiteral("calendar.skipped"), {shownSkipped_.count}),
                                                   l.t(QStringLiteral("calendar.skipped.detail"), {shownSkipped_.firstFile})));
        skipped->setObjectName(QStringLiteral("skippedSeries"));
    }
    Row* contactsRow = row(contactsCard_, "contacts.title", "contacts.text", contacts_->access(), "allowContacts",
        [this] { contacts_->requestAccess(); }, [&]() -> QWidget* {
            Switch* occasions = boundSwitch(settingBool(QStringLiteral("contactsOccasions"), true));
            occasions->setObjectName(QStringLiteral("contactsOccasions"));
            occasions->setAccessibleName(l.t(QStringLiteral("contacts.title")));
            return occasions;
        });
    // No view of this version shows contacts' occasions: the row says so before and after access.
    contactsRow->markNotInVersion(l.t(QStringLiteral("settings.notInVersion")));
}

} // namespace lomex
