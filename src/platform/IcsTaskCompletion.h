#pragma once
#include "platform/IcsItems.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// Completing a task in its .ics file. Only the task's own lines change; everything else the
// file holds (other components, properties we do not read, folding, line ends) stays as written.
namespace lomex::ics {

// The file's text with the task completed at now or, when its rule has a next occurrence, moved
// on to it; tasks are the file as parsed. nullopt when the file holds no VTODO of that UID.
std::optional<QByteArray> completedTaskText(const QByteArray& data, const QList<TaskPart>& tasks, const QString& uid,
                                            const QDateTime& now);

} // namespace lomex::ics
