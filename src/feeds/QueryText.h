#pragma once
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

namespace lomex::querytext {

// base with path appended (a base that already has a path keeps it) and the query items,
// every name and value percent-encoded but for the unreserved characters, so "&", "+", "#"
// or "=" in a stop name stay part of the value.
QUrl withPath(const QUrl& base, const QString& path, const QList<QPair<QString, QString>>& query);

} // namespace lomex::querytext
