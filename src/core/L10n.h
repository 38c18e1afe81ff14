#pragma once
#include "core/LomexError.h"
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace lomex {

enum class AppLanguage { system, cs, en };

QString toString(AppLanguage language);          // "system", "cs", "en"
AppLanguage appLanguageFrom(const QString& raw); // anything unknown gives system

// The two-language text table and the language choice. One shared instance per process;
// views and the status menu follow languageChanged().
class L10n : public QObject {
    Q_OBJECT
public:
    static L10n& shared();
    static void resetShared(); // tests: read "language" anew

    AppLanguage language() const { return language_; }
    void setLanguage(AppLanguage language); // stores "language", emits languageChanged

    // Czech or English, never system: the chosen language, else Czech when the first preferred
    // language of the system starts with "cs" or "sk", else English.
    AppLanguage resolved() const;
    bool isCzech() const { return resolved() == AppLanguage::cs; }

    // The text of key in the resolved language; the key itself when the table lacks it.
    QString t(const QString& key) const;
    // The text used as a format (see formatText) with the locale of the resolved language.
    QString t(const QString& key, const QVariantList& args) const;
    // The error with a message for the user: one that came as data from below (a read-only
    // file, named by its path) worded in the app language; any other as it is.
    LomexError worded(LomexError error) const;

    // Both texts of a key, or nothing when it is not in the table.
    static const char* text(const QString& key, AppLanguage language);
    static bool hasKey(const QString& key);
    static QStringList allKeys();

    // The system's preferred languages as tags like "cs-CZ": the LANGUAGE list, then the first set
    // of LC_ALL / LC_MESSAGES / LANG ("C"/"POSIX" name none). Tests override.
    static QStringList preferredLanguages();
    static void setPreferredLanguagesOverride(std::optional<QStringList> languages);

Q_SIGNALS:
    void languageChanged();

private:
    L10n();
    AppLanguage language_ = AppLanguage::system;
};

// Formats a printf-like pattern with the locale of the language, "cs_CZ" or "en_US", as Foundation's
// String(format:locale:) does: "%d"/"%lld"/"%i"/"%u"/"%x" whole numbers without grouping (unless the
// "'" flag asks for it), "%@"/"%s" strings, "%.1f"-like floats with the locale's decimal separator,
// "%%" a percent sign, positional "%2$@", flags, width and precision. A placeholder without an
// argument stays as written; a '%' that starts no conversion stands for itself.
QString formatText(const QString& pattern, const QVariantList& args, AppLanguage resolved);

} // namespace lomex
