#include "core/L10n.h"
#include "core/Settings.h"
#include "core/TextTable.h"
#include <QLocale>
#include <algorithm>
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

L10n::L10n() { language_ = appLanguageFrom(Settings::shared().stringValue("language")); }

L10n& L10n::shared() {
    if (!g_shared) g_shared.reset(new L10n());
    return *g_shared;
}

void L10n::resetShared() { g_shared.reset(); }

void L10n::setLanguage(AppLanguage language) {
    language_ = language;
    Settings::shared().setString("language", toString(language));
    Q_EMIT languageChanged();
}

QStringList L10n::preferredLanguages() {
    if (g_preferredOverride) return *g_preferredOverride;
    QStringList out;
    // LANGUAGE is a colon-separated priority list; the locale variables name one language each.
    for (const QString& part : qEnvironmentVariable("LANGUAGE").split(':', Qt::SkipEmptyParts)) out << part;
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        QString v = qEnvironmentVariable(var);
        if (!v.isEmpty() && v != "C" && v != "POSIX") {
            out << v;
            break;
        }
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

QString L10n::t(const QString& key) const {
    const char* s = text(key, resolved());
    return s ? QString::fromUtf8(s) : key;
}

QString L10n::t(const QString& key, const QVariantList& args) const { return formatText(t(key), args, resolved()); }

QString formatText(const QString& pattern, const QVariantList& args, AppLanguage resolved) {
    const QLocale locale(resolved == AppLanguage::cs ? QStringLiteral("cs_CZ") : QStringLiteral("en_US"));
    QString out;
    int next = 0;
    for (int i = 0; i < pattern.size(); ++i) {
        QChar c = pattern[i];
        if (c != '%' || i + 1 >= pattern.size()) {
            out += c;
            continue;
        }
        int j = i + 1;
        if (pattern[j] == '%') {
            out += '%';
            i = j;
            continue;
        }
        // Optional positional index "N$".
        int index = -1;
        int k = j;
        while (k < pattern.size() && pattern[k].isDigit()) ++k;
        if (k < pattern.size() && k > j && pattern[k] == '$') {
            index = pattern.mid(j, k - j).toInt() - 1;
            j = k + 1;
        }
        QString spec;
        if (pattern.mid(j, 3) == "lld") spec = "lld";
        else if (pattern.mid(j, 2) == "ld") spec = "ld";
        else if (j < pattern.size() && (pattern[j] == 'd' || pattern[j] == '@')) spec = pattern[j];
        if (spec.isEmpty()) {
            out += c;
            continue;
        }
        const int argIndex = index >= 0 ? index : next++;
        const QVariant arg = argIndex < args.size() ? args[argIndex] : QVariant();
        if (spec == "@") out += arg.toString();
        else out += QString::number(arg.toLongLong());
        i = j + int(spec.size()) - 1;
    }
    Q_UNUSED(locale);
    return out;
}

} // namespace lomex
