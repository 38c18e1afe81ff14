#include "TestEnv.h"
#include "core/L10n.h"
#include "core/TextTable.h"
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <cstring>
#include <set>

using namespace lomex;

namespace {

// The placeholders of a format text, in order ("%@", "%d", "%2$@"…); "%%" is no placeholder.
// The blank flag is left out: plain texts such as "při 20 % upozorní" are never formats.
QStringList placeholders(const QString& text) {
    static const QRegularExpression re(R"(%(?:%|(?:\d+\$)?[-+0#']*\d*(?:\.\d+)?(?:hh|ll|h|l|q|L|z|t|j)?[diuoxXfFeEgGaA@sc]))");
    QStringList out;
    for (auto it = re.globalMatch(text); it.hasNext();) {
        const QString m = it.next().captured(0);
        if (m != "%%") out << m;
    }
    return out;
}

// Keys used in source code. The scan looks for a string literal that is a dotted key
// (lower-case first letter, at least one dot, no blanks) as the first argument of a call
// named t or tr, optionally wrapped in QStringLiteral or QLatin1String:
//     t("tab.home")   l.t("leave.inMin", {5, line})   L10n::shared().t(QStringLiteral("pid.title"))
//     tr("chat.back")
// Keys built at run time ("page." + raw value) are out of its reach.
QSet<QString> keysUsedIn(const QString& source) {
    static const QRegularExpression re(
        R"re(\b(?:t|tr)\s*\(\s*(?:(?:QStringLiteral|QLatin1String|QString)\s*\(\s*)?"([a-z][A-Za-z0-9]*(?:\.[A-Za-z0-9]+)+)")re");
    QSet<QString> out;
    for (auto it = re.globalMatch(source); it.hasNext();) out.insert(it.next().captured(1));
    return out;
}

} // namespace

TEST(TextTable, SortedUniqueAndComplete) {
    ASSERT_GT(kTextTableSize, 200u);
    std::set<std::string> seen;
    for (std::size_t i = 0; i < kTextTableSize; ++i) {
        const TextEntry& e = kTextTable[i];
        ASSERT_NE(e.key, nullptr);
        ASSERT_NE(e.cs, nullptr) << e.key;
        ASSERT_NE(e.en, nullptr) << e.key;
        if (i > 0) {
            EXPECT_LT(std::strcmp(kTextTable[i - 1].key, e.key), 0) << "out of order or duplicate: " << e.key;
        }
        EXPECT_TRUE(seen.insert(e.key).second) << "duplicate key " << e.key;
        EXPECT_GT(std::strlen(e.cs), 0u) << e.key;
        EXPECT_GT(std::strlen(e.en), 0u) << e.key;
        EXPECT_TRUE(QRegularExpression(R"(^[a-z][A-Za-z0-9]*(\.[A-Za-z0-9]+)+$)").match(e.key).hasMatch()) << e.key;
        // Leading/trailing blanks or broken UTF-8 would show in the UI.
        for (const char* text : {e.cs, e.en}) {
            const QString s = QString::fromUtf8(text);
            EXPECT_EQ(s.trimmed(), s) << e.key;
            EXPECT_FALSE(s.contains(QChar::ReplacementCharacter)) << e.key;
        }
    }
    for (const char* key : {"tab.agents", "tab.home", "settings.title", "usage.resets", "palette.addEvent", "page.about.sub"})
        EXPECT_TRUE(L10n::hasKey(key)) << key;
    EXPECT_STREQ(L10n::text("tab.agents", AppLanguage::cs), "Agenti");
    EXPECT_STREQ(L10n::text("tab.agents", AppLanguage::en), "Agents");
}

TEST(TextTable, BothLanguagesTakeTheSameArguments) {
    for (std::size_t i = 0; i < kTextTableSize; ++i) {
        const TextEntry& e = kTextTable[i];
        EXPECT_EQ(placeholders(QString::fromUtf8(e.cs)), placeholders(QString::fromUtf8(e.en))) << e.key;
    }
    EXPECT_EQ(placeholders("%d %% zbývá, %2$@"), (QStringList{"%d", "%2$@"}));
}

TEST(TextTable, NoMacOnlyPlaces) {
    // Texts on Linux must not send the user to places this system does not have.
    const char* macWords[] = {"⌘", "⌥", "System Settings", "Nastavení systému", "Finder", "iCloud", "this Mac",
                              "tomto Macu", "Terminal", "Terminál", "Dock", "menu bar", "řádkem nabídek",
                              "Keychain", "klíčenk", "macOS"};
    for (std::size_t i = 0; i < kTextTableSize; ++i) {
        for (const char* text : {kTextTable[i].cs, kTextTable[i].en})
            for (const char* word : macWords)
                EXPECT_EQ(std::strstr(text, word), nullptr) << kTextTable[i].key << " names " << word;
    }
}

TEST(TextTable, KeyScanRecognisesCallForms) {
    const QSet<QString> found = keysUsedIn(R"(
        label->setText(l.t("tab.home"));
        auto s = L10n::shared().t(QStringLiteral("leave.inMin"), {5, line});
        x = tr( "chat.back" ) + t(QLatin1String("a.b"));
        split("not.akey"); at("not.either"); t("Plain text"); t("nodot"); t(key); const char* k = "x.y";
    )");
    EXPECT_EQ(found, (QSet<QString>{"tab.home", "leave.inMin", "chat.back", "a.b"}));
}

TEST(TextTable, EveryKeyUsedInSourceIsInTheTable) {
    const QString root = QStringLiteral(LOMEX_SOURCE_DIR "/src");
    QDirIterator it(root, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
    int files = 0;
    QStringList missing;
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        ++files;
        for (const QString& key : keysUsedIn(QString::fromUtf8(f.readAll())))
            if (!L10n::hasKey(key)) missing << key + " (" + path.mid(root.size() + 1) + ")";
    }
    EXPECT_GT(files, 0);
    missing.sort();
    EXPECT_TRUE(missing.isEmpty()) << "keys not in the text table: " << missing.join(", ").toStdString();
}
