#include "core/L10n.h"
#include "core/JsonFile.h"
#include "core/Settings.h"
#include "core/TextTable.h"
#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

namespace lomex {

namespace {
std::unique_ptr<L10n> g_shared;
std::optional<QStringList> g_preferredOverride;

const TextEntry* find(const QString& key) {
    const QByteArray k = key.toUtf8();
    const TextEntry* begin = kTextTable;
    const TextEntry* end = kTextTable + kTextTableSize;
    auto it = std::lower_bound(begin, end, k, [](const TextEntry& e, const QByteArray& key) {
        return std::strcmp(e.key, key.constData()) < 0;
    });
    if (it != end && k == it->key) return it;
    return nullptr;
}
} // namespace

QString toString(AppLanguage language) {
    switch (language) {
    case AppLanguage::cs: return QStringLiteral("cs");
    case AppLanguage::en: return QStringLiteral("en");
    case AppLanguage::system: break;
    }
    return QStringLiteral("system");
}

AppLanguage appLanguageFrom(const QString& raw) {
    if (raw == "cs") return AppLanguage::cs;
    if (raw == "en") return AppLanguage::en;
    return AppLanguage::system;
}

L10n::L10n() {
    language_ = appLanguageFrom(Settings::shared().get(keys::language));
    // The choice may also change in the file itself (edited by hand while we run).
    connect(&Settings::shared(), &Settings::changed, this, [this](const QString& key) {
        if (!(key == keys::language)) return;
        const AppLanguage stored = appLanguageFrom(Settings::shared().get(keys::language));
        if (stored == language_) return;
        language_ = stored;
        Q_EMIT languageChanged();
    });
}

L10n& L10n::shared() {
    if (!g_shared) g_shared.reset(new L10n());
    return *g_shared;
}

void L10n::resetShared() { g_shared.reset(); }

void L10n::setLanguage(AppLanguage language) {
    language_ = language;
    Settings::shared().set(keys::language, toString(language));
    Q_EMIT languageChanged();
}

namespace {
// "cs_CZ.UTF-8" or "sk_SK@euro" -> "cs-CZ" / "sk-SK"; "C" and "POSIX" name no language.
QString languageTag(QString value) {
    value = value.trimmed();
    value = value.left(value.indexOf('@') < 0 ? value.size() : value.indexOf('@'));
    value = value.left(value.indexOf('.') < 0 ? value.size() : value.indexOf('.'));
    if (value.isEmpty() || value == "C" || value == "POSIX") return {};
    return value.replace('_', '-');
}
} // namespace

QStringList L10n::preferredLanguages() {
    if (g_preferredOverride) return *g_preferredOverride;
    QStringList out;
    // LANGUAGE is gettext's priority list ("cs:en"); after it comes the one messages locale,
    // the first of LC_ALL, LC_MESSAGES, LANG that is set (a "C" locale names no language).
    for (const QString& part : qEnvironmentVariable("LANGUAGE").split(':', Qt::SkipEmptyParts)) {
        const QString tag = languageTag(part);
        if (!tag.isEmpty() && !out.contains(tag)) out << tag;
    }
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(var);
        if (value.isEmpty()) continue;
        const QString tag = languageTag(value);
        if (!tag.isEmpty() && !out.contains(tag)) out << tag;
        break;
    }
    return out;
}

void L10n::setPreferredLanguagesOverride(std::optional<QStringList> languages) { g_preferredOverride = std::move(languages); }

AppLanguage L10n::resolved() const {
    if (language_ != AppLanguage::system) return language_;
    const QStringList preferred = preferredLanguages();
    if (preferred.isEmpty()) return AppLanguage::en;
    const QString first = preferred.first();
    return (first.startsWith("cs") || first.startsWith("sk")) ? AppLanguage::cs : AppLanguage::en;
}

const char* L10n::text(const QString& key, AppLanguage language) {
    const TextEntry* e = find(key);
    if (!e) return nullptr;
    return language == AppLanguage::cs ? e->cs : e->en;
}

bool L10n::hasKey(const QString& key) { return find(key) != nullptr; }

QStringList L10n::allKeys() {
    QStringList out;
    for (std::size_t i = 0; i < kTextTableSize; ++i) out << QString::fromUtf8(kTextTable[i].key);
    return out;
}

namespace {
QString lookUp(const QString& key, AppLanguage resolved) {
    const char* s = L10n::text(key, resolved);
    return s ? QString::fromUtf8(s) : key;
}
} // namespace

QString L10n::t(const QString& key) const { return lookUp(key, resolved()); }

LomexError L10n::worded(LomexError error) const {
    if (jsonfile::isReadOnlyError(error)) error.message = t(QStringLiteral("file.readOnly"), {error.message});
    return error;
}

// Resolving reads the environment; a formatted text does it once for the text and its numbers.
QString L10n::t(const QString& key, const QVariantList& args) const {
    const AppLanguage language = resolved();
    return formatText(lookUp(key, language), args, language);
}

namespace {

struct FormatSpec {
    int index = -1;      // positional argument ("%2$@"), 0-based; -1 takes the next one
    QString flags;       // "-+ 0#'"
    QString width;       // digits
    QString precision;   // digits after '.', or empty
    bool hasPrecision = false;
    QChar conversion;    // d i u o x X f F e E g G a A @ s c
    int length = 0;      // characters the conversion takes after '%'
};

// Parses what follows a '%' at pos; false when it is no conversion we know.
bool parseSpec(const QString& p, int pos, FormatSpec& spec) {
    int i = pos;
    auto digitsFrom = [&](int from) {
        int j = from;
        while (j < p.size() && p[j].isDigit() && p[j].unicode() < 128) ++j;
        return j;
    };
    int j = digitsFrom(i);
    if (j > i && j < p.size() && p[j] == '$') {
        const int n = p.mid(i, j - i).toInt();
        if (n < 1) return false;
        spec.index = n - 1;
        i = j + 1;
    }
    while (i < p.size() && QStringLiteral("-+ 0#'").contains(p[i])) spec.flags += p[i++];
    j = digitsFrom(i);
    spec.width = p.mid(i, j - i);
    i = j;
    if (i < p.size() && p[i] == '.') {
        j = digitsFrom(i + 1);
        spec.hasPrecision = true;
        spec.precision = p.mid(i + 1, j - i - 1);
        i = j;
    }
    // Length modifiers only say how wide the C argument is; arguments here carry their type.
    for (const char* mod : {"hh", "ll", "h", "l", "q", "L", "z", "t", "j"}) {
        const QLatin1String m(mod);
        if (p.mid(i, m.size()) == m) {
            i += int(m.size());
            break;
        }
    }
    if (i >= p.size() || !QStringLiteral("diuoxXfFeEgGaA@sc").contains(p[i])) return false;
    spec.conversion = p[i];
    spec.length = i + 1 - pos;
    return true;
}

long long wholeNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float: return static_cast<long long>(v.toDouble()); // truncates like a C cast
    default: return v.toLongLong();
    }
}

QString pad(QString text, const FormatSpec& spec) {
    const int width = spec.width.toInt();
    if (text.size() >= width) return text;
    return spec.flags.contains('-') ? text.leftJustified(width) : text.rightJustified(width);
}

// A floating conversion rounded exactly as printf does in the C locale (std::to_chars promises
// that; QString::asprintf does not round halves to even), then the locale's decimal separator.
QString formatFloating(const FormatSpec& spec, double d, const QLocale& locale, bool grouping) {
    const QChar c = spec.conversion;
    const bool upper = c.isUpper();
    const char lc = char(c.toLower().unicode());
    const int precision = spec.hasPrecision ? spec.precision.toInt() : (lc == 'a' ? -1 : 6);
    if (grouping && lc == 'f' && std::isfinite(d)) return pad(locale.toString(d, 'f', precision), spec);

    char buf[512];
    const double magnitude = std::fabs(d);
    std::chars_format format = std::chars_format::fixed;
    if (lc == 'e') format = std::chars_format::scientific;
    else if (lc == 'g') format = std::chars_format::general;
    else if (lc == 'a') format = std::chars_format::hex;
    std::to_chars_result r = precision < 0 ? std::to_chars(buf, buf + sizeof buf, magnitude, format)
                                           : std::to_chars(buf, buf + sizeof buf, magnitude, format, precision);
    if (r.ec != std::errc()) return QString::number(d); // beyond any sensible width
    QString body = QString::fromLatin1(buf, int(r.ptr - buf));
    if (lc == 'a' && std::isfinite(d)) body.prepend(QStringLiteral("0x"));
    if (upper) body = body.toUpper();
    body.replace('.', locale.decimalPoint());

    QString sign;
    if (std::signbit(d) && !std::isnan(d)) sign = "-";
    else if (spec.flags.contains('+')) sign = "+";
    else if (spec.flags.contains(' ')) sign = " ";
    const int width = spec.width.toInt();
    const int fill = width - int(sign.size() + body.size());
    if (fill <= 0) return sign + body;
    if (spec.flags.contains('-')) return sign + body + QString(fill, ' ');
    if (spec.flags.contains('0') && std::isfinite(d)) return sign + QString(fill, '0') + body;
    return QString(fill, ' ') + sign + body;
}

QString formatOne(const FormatSpec& spec, const QVariant& arg, const QLocale& locale) {
    const QChar c = spec.conversion;
    if (c == '@' || c == 's') {
        QString text = arg.toString();
        if (spec.hasPrecision) text.truncate(spec.precision.toInt());
        return pad(text, spec);
    }
    if (c == 'c') return pad(QString(QChar(char16_t(arg.toUInt()))), spec);

    QString cFlags = spec.flags;
    const bool grouping = cFlags.contains('\'');
    cFlags.remove('\'');
    QString cSpec = "%" + cFlags + spec.width + (spec.hasPrecision ? "." + spec.precision : QString());
    const QByteArray ascii = [&] {
        if (c == 'd' || c == 'i') return (cSpec + "lld").toLatin1();
        if (c == 'u' || c == 'o' || c == 'x' || c == 'X') return (cSpec + "ll" + c).toLatin1();
        return (cSpec + c).toLatin1();
    }();
    const bool floating = QStringLiteral("fFeEgGaA").contains(c);
    if (c == 'd' || c == 'i') {
        const long long n = wholeNumber(arg);
        if (grouping) return pad(locale.toString(n), spec); // "1 234" in Czech, "1,234" in English
        return QString::asprintf(ascii.constData(), n);
    }
    if (!floating) return QString::asprintf(ascii.constData(), static_cast<unsigned long long>(wholeNumber(arg)));
    return formatFloating(spec, arg.toDouble(), locale, grouping);
}

} // namespace

QString formatText(const QString& pattern, const QVariantList& args, AppLanguage resolved) {
    QLocale locale(resolved == AppLanguage::cs ? QStringLiteral("cs_CZ") : QStringLiteral("en_US"));
    QString out;
    out.reserve(pattern.size() + 16);
    int next = 0;
    for (int i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c != '%' || i + 1 >= pattern.size()) {
            out += c;
            continue;
        }
        if (pattern[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        FormatSpec spec;
        if (!parseSpec(pattern, i + 1, spec)) {
            out += c; // not a conversion: the '%' stands for itself
            continue;
        }
        const int argIndex = spec.index >= 0 ? spec.index : next++;
        if (argIndex >= args.size()) {
            // A missing argument leaves its placeholder visible instead of reading garbage.
            out += pattern.mid(i, spec.length + 1);
        } else {
            out += formatOne(spec, args[argIndex], locale);
        }
        i += spec.length;
    }
    return out;
}

} // namespace lomex
