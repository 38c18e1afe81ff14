#pragma once
#include "platform/CalendarStore.h"

#include <QByteArray>
#include <QString>

// The text of a new item's .ics file: one VEVENT or VTODO with its alarm, written by libical.
namespace lomex::ics {

QByteArray newEventText(const QString& uid, const NewEvent& event);
QByteArray newTaskText(const QString& uid, const NewTask& task);

} // namespace lomex::ics
