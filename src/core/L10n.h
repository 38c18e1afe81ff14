#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

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
    // The text used as a format: "%d"/"%lld" whole numbers, "%@" strings, "%%" a percent sign,
    // numbers formatted with "cs_CZ" or "en_US".
    QString t(const QString& key, const QVariantList& args) const;

    // Both texts of a key, or nothing when it is not in the table.
    static const char* text(const QString& key, AppLanguage language);
    static bool hasKey(const QString& key);
    static QStringList allKeys();

    // The system's preferred languages (from LANGUAGE / LC_ALL / LC_MESSAGES / LANG); tests override.
    static QStringList preferredLanguages();
    static void setPreferredLanguagesOverride(std::optional<QStringList> languages);

Q_SIGNALS:
    void languageChanged();

private:
    L10n();
    AppLanguage language_ = AppLanguage::system;
};

// Formats a printf-like pattern ("%d", "%lld", "%@", "%%", positional "%1$@") with the locale of
// the language: "cs_CZ" or "en_US".
QString formatText(const QString& pattern, const QVariantList& args, AppLanguage resolved);

} // namespace lomex
