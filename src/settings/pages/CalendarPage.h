#pragma once
#include "platform/CalendarStore.h"
#include "settings/SettingsPage.h"

class QPushButton;

namespace lomex {

class Card;
class ContactsService;
class EventService;

// Access to calendars, reminders and contacts, and the settings the agenda reads: name days,
// how many days ahead it reaches, and the meeting countdown.
class CalendarPage : public SettingsPage {
    Q_OBJECT
public:
    CalendarPage(EventService* events, ContactsService* contacts, QWidget* parent = nullptr);

    // The agenda range choices: stored value and its text.
    static QList<QPair<QString, QString>> agendaChoices();

private:
    void buildAccess();

    EventService* events_;
    ContactsService* contacts_;
    Card* calendarCard_;
    Card* contactsCard_;
    SkippedSeries shownSkipped_;
};

// The bordered prominent button of an access row.
QPushButton* allowButton(const QString& text, QWidget* parent = nullptr);

} // namespace lomex
