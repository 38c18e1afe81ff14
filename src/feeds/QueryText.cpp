#include "feeds/QueryText.h"

namespace lomex::querytext {

QUrl withPath(const QUrl& base, const QString& path, const QList<QPair<QString, QString>>& query) {
    QUrl url = base;
    QString joined = base.path();
    if (joined.endsWith(QLatin1Char('/')) && path.startsWith(QLatin1Char('/'))) joined.chop(1);
    url.setPath(joined + path);
    QByteArray encoded;
    for (const auto& [name, value] : query) {
        if (!encoded.isEmpty()) encoded += '&';
        encoded += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    if (encoded.isEmpty())
        url.setQuery(QString());
    else
        url.setQuery(QString::fromLatin1(encoded), QUrl::StrictMode);
    return url;
}

} // namespace lomex::querytext
