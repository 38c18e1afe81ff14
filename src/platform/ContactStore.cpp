#include "platform/ContactStore.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/FileIO.h"
#include "platform/FolderWatch.h"
#include "core/Paths.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unistd.h>

namespace lomex {

namespace {

ContactStore* g_installed = nullptr;

// The last year treated as a placeholder for "year unknown" (Apple writes 1604, others 1900).
constexpr int kLastPlaceholderYear = 1900;

struct Property {
    QByteArray name;                      // upper case, group removed
    QList<QByteArray> params;             // as written, upper-cased names
    QByteArray value;                     // raw
};

QByteArray paramValue(const Property& p, const QByteArray& key) {
    for (const QByteArray& param : p.params) {
        const int eq = param.indexOf('=');
        if (eq > 0 && param.left(eq).trimmed().toUpper() == key) {
            QByteArray v = param.mid(eq + 1).trimmed();
            if (v.size() >= 2 && v.startsWith('"') && v.endsWith('"')) v = v.mid(1, v.size() - 2);
            return v;
        }
    }
    return {};
}

bool isQuotedPrintable(const Property& p) {
    for (const QByteArray& param : p.params) {
        const QByteArray up = param.trimmed().toUpper();
        if (up == "QUOTED-PRINTABLE" || up == "ENCODING=QUOTED-PRINTABLE") return true;
    }
    return false;
}

bool headerIsQuotedPrintable(const QByteArray& line) {
    const int colon = line.indexOf(':');
    return colon > 0 && line.left(colon).toUpper().contains("QUOTED-PRINTABLE");
}

QByteArray decodeQuotedPrintable(const QByteArray& in) {
    QByteArray out;
    out.reserve(in.size());
    for (int i = 0; i < in.size(); ++i) {
        if (in[i] == '=' && i + 2 < in.size()) {
            bool ok = false;
            const int byte = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += char(byte);
                i += 2;
                continue;
            }
        }
        out += in[i];
    }
    return out;
}

QString decodeCharset(const QByteArray& bytes, const QByteArray& charset) {
    const QByteArray cs = charset.toUpper();
    if (cs.isEmpty() || cs == "UTF-8" || cs == "UTF8") {
        // Without a charset 2.1 cards are often in the writer's 8-bit code page.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString s = utf8.decode(bytes);
        if (!utf8.hasError() || !cs.isEmpty()) return s;
        return QString::fromLatin1(bytes);
    }
    UErrorCode err = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(cs.constData(), &err);
    if (U_FAILURE(err) || !conv) return QString::fromLatin1(bytes);
    QString out(bytes.size() * 2 + 1, Qt::Uninitialized);
    err = U_ZERO_ERROR;
    const int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), int32_t(out.size()), bytes.constData(),
                                    int32_t(bytes.size()), &err);
    ucnv_close(conv);
    if (U_FAILURE(err)) return QString::fromLatin1(bytes);
    out.truncate(n);
    return out;
}

QString unescape(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == u'\\' && i + 1 < s.size()) {
            const QChar n = s[++i];
            out += (n == u'n' || n == u'N') ? QChar(u'\n') : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Splits at separators that are not escaped.
QStringList splitUnescaped(const QString& s, QChar sep) {
    QStringList out;
    QString cur;
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == u'\\' && i + 1 < s.size()) {
            cur += s[i];
            cur += s[++i];
        } else if (s[i] == sep) {
            out << cur;
            cur.clear();
        } else {
            cur += s[i];
        }
    }
    out << cur;
    return out;
}

QString textValue(const Property& p) {
    const QByteArray raw = isQuotedPrintable(p) ? decodeQuotedPrintable(p.value) : p.value;
    return decodeCharset(raw, paramValue(p, "CHARSET"));
}

std::optional<Property> parseLine(const QByteArray& line) {
    bool quoted = false;
    int colon = -1;
    for (int i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        else if (line[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon <= 0) return std::nullopt;
    QList<QByteArray> head = line.left(colon).split(';');
    Property p;
    p.name = head.takeFirst().trimmed().toUpper();
    if (const int dot = p.name.lastIndexOf('.'); dot >= 0) p.name = p.name.mid(dot + 1);
    p.params = head;
    p.value = line.mid(colon + 1);
    return p;
}

// Physical lines to logical ones: folded continuations joined, quoted-printable soft breaks joined.
QList<QByteArray> logicalLines(const QByteArray& data) {
    QList<QByteArray> physical = data.split('\n');
    for (QByteArray& l : physical)
        while (l.endsWith('\r')) l.chop(1);
    QList<QByteArray> out;
    for (int i = 0; i < physical.size(); ++i) {
        QByteArray line = physical[i];
        if ((line.startsWith(' ') || line.startsWith('\t')) && !out.isEmpty()) {
            out.last() += line.mid(1);
            continue;
        }
        if (headerIsQuotedPrintable(line)) {
            while (line.endsWith('=') && i + 1 < physical.size()) {
                line.chop(1);
                line += physical[++i];
            }
        }
        out << line;
    }
    return out;
}

} // namespace

ContactStore* ContactStore::current() {
    if (g_installed) return g_installed;
    static VdirContactStore* vdir = new VdirContactStore(VdirContactStore::defaultRoot(), nullptr,
                                                         QCoreApplication::instance());
    return vdir;
}

void ContactStore::setCurrent(ContactStore* store) { g_installed = store; }

std::optional<Birthday> vcard::birthday(const QString& raw, const std::optional<int>& omittedYear) {
    static const QRegularExpression full(QStringLiteral(R"(^(\d{4})-?(\d{2})-?(\d{2})(?:T.*)?$)"));
    static const QRegularExpression noYear(QStringLiteral(R"(^--(\d{2})-?(\d{2})(?:T.*)?$)"));
    const QString v = raw.trimmed();
    Birthday b;
    if (auto m = full.match(v); m.hasMatch()) {
        const int year = m.captured(1).toInt();
        b.month = m.captured(2).toInt();
        b.day = m.captured(3).toInt();
        if (year > kLastPlaceholderYear && year != omittedYear.value_or(-1)) b.year = year;
    } else if (auto n = noYear.match(v); n.hasMatch()) {
        b.month = n.captured(1).toInt();
        b.day = n.captured(2).toInt();
    } else {
        return std::nullopt;
    }
    // A day that no year has (31 April); 29 February is kept, it exists in leap years.
    if (!QDate::isValid(b.year.value_or(2000), b.month, b.day)) return std::nullopt;
    return b;
}

QList<Contact> vcard::read(const QByteArray& data, int maxCards, qint64 maxCardBytes, int* tooLarge) {
    QList<Contact> out;
    int depth = 0;
    Contact current;
    bool haveBirthday = false;
    qint64 cardBytes = 0;
    for (const QByteArray& line : logicalLines(data)) {
        if (out.size() >= maxCards) break;
        cardBytes += line.size() + 2;
        auto p = parseLine(line);
        if (!p) continue;
        if (p->name == "BEGIN" && p->value.trimmed().toUpper() == "VCARD") {
            if (++depth == 1) {
                current = Contact{};
                haveBirthday = false;
                cardBytes = line.size() + 2;
            }
            continue;
        }
        if (p->name == "END" && p->value.trimmed().toUpper() == "VCARD") {
            if (depth == 1 && cardBytes <= maxCardBytes) out << current;
            else if (depth == 1 && tooLarge) ++*tooLarge;
            depth = std::max(0, depth - 1);
            continue;
        }
        if (depth != 1) continue; // outside a card, or inside an embedded one
        if (p->name == "N") {
            const QStringList parts = splitUnescaped(textValue(*p), u';');
            current.familyName = unescape(parts.value(0)).trimmed();
            current.givenName = unescape(parts.value(1)).trimmed();
        } else if (p->name == "FN") {
            current.fullName = unescape(textValue(*p)).trimmed();
        } else if (p->name == "NICKNAME") {
            current.nickname = unescape(splitUnescaped(textValue(*p), u',').value(0)).trimmed();
        } else if (p->name == "BDAY" && !haveBirthday) {
            if (paramValue(*p, "VALUE").toUpper() == "TEXT") continue;
            std::optional<int> omitted;
            if (const QByteArray y = paramValue(*p, "X-APPLE-OMIT-YEAR"); !y.isEmpty()) omitted = y.toInt();
            if (auto b = birthday(textValue(*p), omitted)) {
                current.birthday = b;
                haveBirthday = true;
            }
        }
    }
    return out;
}

VdirContactStore::VdirContactStore(QString root, Clock* clock, QObject* parent)
    : ContactStore(parent), root_(std::move(root)), watch_(new FolderWatch(clock ? clock : Clock::current(), this)) {
    connect(watch_, &FolderWatch::changed, this, [this] {
        watchFolders();
        emit changed();
    });
    watchFolders();
}

QString VdirContactStore::defaultRoot() {
    return paths::folderFromEnv("LOMEX_CONTACTS_DIR", paths::dataHome() + QStringLiteral("/Lomex/contacts"));
}

bool VdirContactStore::hasAccess() const { return paths::isReadableDir(root_); }

void VdirContactStore::requestAccess() {
    if (!QFileInfo::exists(root_) && !paths::ensureDir(root_)) logWarning("cannot create the contacts folder " + root_);
    watchFolders();
}

void VdirContactStore::watchFolders() {
    QStringList dirs{root_};
    for (const QFileInfo& d : QDir(root_).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        dirs << d.absoluteFilePath();
    watch_->watch(dirs);
}

QList<Contact> VdirContactStore::contacts(bool* failed) const {
    if (failed) *failed = false;
    QList<Contact> out;
    QStringList folders{root_};
    for (const QFileInfo& d : QDir(root_).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        folders << d.absoluteFilePath();
    int files = 0, tooLarge = 0;
    QString firstTooLarge;
    auto finish = [&](bool stopped) {
        if (stopped && failed) *failed = true;
        if (tooLarge > 0)
            logWarning(QStringLiteral("%1 contact cards larger than %2 bytes skipped (the first in %3)")
                           .arg(tooLarge).arg(maxCardBytes).arg(firstTooLarge));
        return out;
    };
    for (const QString& folder : folders) {
        for (const QFileInfo& f : QDir(folder).entryInfoList({QStringLiteral("*.vcf")}, QDir::Files, QDir::Name)) {
            if (++files > maxFiles) return finish(true);
            QString error;
            auto data = fileio::readRegularFile(f.absoluteFilePath(), maxFileBytes + 1, &error);
            if (!data) continue;
            if (data->size() > maxFileBytes) {
                logWarning("contact file too large, skipped: " + f.absoluteFilePath());
                continue;
            }
            const int before = tooLarge;
            out += vcard::read(*data, maxCards - int(out.size()), maxCardBytes, &tooLarge);
            if (tooLarge > before && firstTooLarge.isEmpty()) firstTooLarge = f.absoluteFilePath();
            if (out.size() >= maxCards) {
                logWarning(QStringLiteral("%1 contact cards read from %2; the rest are not read").arg(maxCards).arg(root_));
                return finish(true);
            }
        }
    }
    return finish(false);
}

} // namespace lomex
