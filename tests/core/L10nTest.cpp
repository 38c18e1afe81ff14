#include "TestEnv.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "core/JsonFile.h"
#include <cerrno>
#include <QSignalSpy>
#include <QFile>

using namespace lomex;
using lomex::test::LomexTest;

namespace {

// Sets environment variables for one scope and puts the old values back.
class EnvGuard {
public:
    void set(const char* name, const char* value) {
        if (!saved_.count(name))
            saved_[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
        if (value) qputenv(name, value);
        else qunsetenv(name);
    }
    ~EnvGuard() {
        for (const auto& [name, value] : saved_) {
            if (value) qputenv(name.c_str(), *value);
            else qunsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<QByteArray>> saved_;
};

} // namespace

class L10nTest : public LomexTest {};

TEST_F(L10nTest, SystemChoiceFollowsFirstPreferredLanguage) {
    auto& l = L10n::shared();
    ASSERT_EQ(l.language(), AppLanguage::system);
    const std::pair<QStringList, AppLanguage> cases[] = {
        {{"cs-CZ"}, AppLanguage::cs},
        {{"sk-SK", "en-US"}, AppLanguage::cs},
        {{"cs"}, AppLanguage::cs},
        {{"en-US", "cs-CZ"}, AppLanguage::en}, // only the first one counts
        {{"de-DE", "cs-CZ"}, AppLanguage::en},
        {{}, AppLanguage::en},
    };
    for (const auto& [preferred, expected] : cases) {
        L10n::setPreferredLanguagesOverride(preferred);
        EXPECT_EQ(l.resolved(), expected) << preferred.join(",").toStdString();
        EXPECT_EQ(l.isCzech(), expected == AppLanguage::cs);
    }
}

TEST_F(L10nTest, ExplicitChoiceWinsOverSystem) {
    auto& l = L10n::shared();
    L10n::setPreferredLanguagesOverride(QStringList{"cs-CZ"});
    l.setLanguage(AppLanguage::en);
    EXPECT_EQ(l.resolved(), AppLanguage::en);
    EXPECT_EQ(l.t("tab.home"), "Home");
    L10n::setPreferredLanguagesOverride(QStringList{"en-US"});
    l.setLanguage(AppLanguage::cs);
    EXPECT_EQ(l.resolved(), AppLanguage::cs);
    EXPECT_EQ(l.t("tab.home"), QString::fromUtf8("Domů"));
    l.setLanguage(AppLanguage::system);
    EXPECT_EQ(l.resolved(), AppLanguage::en);
}

TEST_F(L10nTest, LanguageIsStoredAndReadBack) {
    auto& l = L10n::shared();
    QSignalSpy spy(&l, &L10n::languageChanged);
    QString seenBySlot;
    QObject::connect(&l, &L10n::languageChanged, [&] { seenBySlot = l.t("tab.note"); });
    l.setLanguage(AppLanguage::cs);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(seenBySlot, QString::fromUtf8("Poznámka")) << "observers redraw in the new language";
    EXPECT_EQ(Settings::shared().get(keys::language), "cs");
    l.setLanguage(AppLanguage::system);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(Settings::shared().get(keys::language), "system");

    // A new instance reads the stored choice; unknown or mistyped values mean system.
    const std::pair<nlohmann::json, AppLanguage> stored[] = {
        {"cs", AppLanguage::cs},     {"en", AppLanguage::en},     {"system", AppLanguage::system},
        {"de", AppLanguage::system}, {"CS", AppLanguage::system}, {"", AppLanguage::system},
        {7, AppLanguage::system},
    };
    for (const auto& [value, expected] : stored) {
        Settings::shared().setByName("language", value);
        L10n::resetShared();
        EXPECT_EQ(L10n::shared().language(), expected) << value.dump();
    }
    Settings::shared().remove(keys::language);
    L10n::resetShared();
    EXPECT_EQ(L10n::shared().language(), AppLanguage::system);

    EXPECT_EQ(toString(AppLanguage::system), "system");
    EXPECT_EQ(appLanguageFrom("en"), AppLanguage::en);
}

TEST_F(L10nTest, PreferredLanguagesFromEnvironment) {
    L10n::setPreferredLanguagesOverride(std::nullopt);
    EnvGuard env;
    for (const char* v : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) env.set(v, nullptr);
    EXPECT_TRUE(L10n::preferredLanguages().isEmpty());
    EXPECT_EQ(L10n::shared().resolved(), AppLanguage::en);

    env.set("LANG", "cs_CZ.UTF-8");
    EXPECT_EQ(L10n::preferredLanguages(), QStringList{"cs-CZ"});
    EXPECT_EQ(L10n::shared().resolved(), AppLanguage::cs);

    env.set("LC_MESSAGES", "en_GB.UTF-8"); // messages locale wins over LANG
    EXPECT_EQ(L10n::preferredLanguages(), QStringList{"en-GB"});

    env.set("LC_ALL", "C"); // the C locale names no language and hides the others
    EXPECT_TRUE(L10n::preferredLanguages().isEmpty());

    env.set("LANGUAGE", "sk:en_US");
    EXPECT_EQ(L10n::preferredLanguages(), (QStringList{"sk", "en-US"}));
    EXPECT_EQ(L10n::shared().resolved(), AppLanguage::cs);

    env.set("LC_ALL", "de_DE@euro");
    EXPECT_EQ(L10n::preferredLanguages(), (QStringList{"sk", "en-US", "de-DE"}));
}

TEST_F(L10nTest, MissingKeyComesBackUnchanged) {
    auto& l = L10n::shared();
    for (AppLanguage lang : {AppLanguage::cs, AppLanguage::en}) {
        l.setLanguage(lang);
        EXPECT_EQ(l.t("no.such.key"), "no.such.key");
        EXPECT_EQ(l.t(""), "");
        EXPECT_EQ(l.t("tab.hom"), "tab.hom");
        EXPECT_EQ(l.t("tab.homeX"), "tab.homeX");
        EXPECT_EQ(l.t("no.such %d", {3}), "no.such 3");
    }
    EXPECT_FALSE(L10n::hasKey("no.such.key"));
    EXPECT_EQ(L10n::text("no.such.key", AppLanguage::cs), nullptr);
}

TEST_F(L10nTest, EveryKeyIsFoundByLookup) {
    // The binary search must reach every entry, the first and the last included.
    const QStringList keys = L10n::allKeys();
    ASSERT_FALSE(keys.isEmpty());
    for (const QString& key : keys) {
        ASSERT_TRUE(L10n::hasKey(key)) << key.toStdString();
        EXPECT_NE(QString::fromUtf8(L10n::text(key, AppLanguage::cs)), key);
    }
}

TEST_F(L10nTest, FormatsTableTextsInBothLanguages) {
    auto& l = L10n::shared();
    l.setLanguage(AppLanguage::en);
    EXPECT_EQ(l.t("leave.inMin", {4, "22"}), "Leave in 4 min for line 22");
    EXPECT_EQ(l.t("usage.left", {37}), "37% left");
    EXPECT_EQ(l.t("chat.placeholder", {"Codex"}), QString::fromUtf8("Reply to Codex…"));
    EXPECT_EQ(l.t("agenda.n", {12345}), "12345 days") << "plain %d has no grouping";
    l.setLanguage(AppLanguage::cs);
    EXPECT_EQ(l.t("leave.inMin", {4, "22"}), "Vyraz za 4 min na linku 22");
    EXPECT_EQ(l.t("usage.left", {37}), QString::fromUtf8("37 % zbývá"));
    EXPECT_EQ(l.t("idos.open", {QString::fromUtf8("Anděl")}), QString::fromUtf8("Odjezdy z „Anděl“ na IDOS"));
}

TEST(FormatText, LocaleDependentNumbers) {
    const auto cs = AppLanguage::cs;
    const auto en = AppLanguage::en;
    EXPECT_EQ(formatText("%.1f", {2.25}, en), "2.2"); // round-half-even of the binary value, as printf
    EXPECT_EQ(formatText("%.1f", {2.75}, cs), "2,8");
    EXPECT_EQ(formatText("%.0f km", {12.6}, cs), "13 km");
    EXPECT_EQ(formatText("%f", {0.5}, cs), "0,500000");
    EXPECT_EQ(formatText("%5.2f|", {3.14159}, en), " 3.14|");
    EXPECT_EQ(formatText("%g", {1.5}, cs), "1,5");
    EXPECT_EQ(formatText("%d", {1234567}, cs), "1234567");
    EXPECT_EQ(formatText("%lld", {qint64(9000000000)}, en), "9000000000");
    EXPECT_EQ(formatText("%'d", {1234567}, en), "1,234,567");
    EXPECT_EQ(formatText("%'d", {1234567}, cs), QString::fromUtf8("1\u00a0234\u00a0567"));
    EXPECT_EQ(formatText("%ld/%i/%u", {-5, 6, 7}, en), "-5/6/7");
    EXPECT_EQ(formatText("%d", {2.9}, en), "2") << "a fraction is cut off, not rounded";
    EXPECT_EQ(formatText("%d", {"42"}, en), "42");
    EXPECT_EQ(formatText("%02d:%02d", {7, 5}, en), "07:05");
    EXPECT_EQ(formatText("%+d", {3}, en), "+3");
    EXPECT_EQ(formatText("%x", {255}, en), "ff");
}

TEST(FormatText, StringsPercentsAndPositions) {
    const auto en = AppLanguage::en;
    EXPECT_EQ(formatText("%@ and %@", {"a", "b"}, en), "a and b");
    EXPECT_EQ(formatText("%2$@ before %1$@", {"a", "b"}, en), "b before a");
    EXPECT_EQ(formatText("%1$@ %1$@", {"x"}, en), "x x");
    EXPECT_EQ(formatText("%s=%d", {"n", 3}, en), "n=3");
    EXPECT_EQ(formatText("%d %%", {50}, en), "50 %");
    EXPECT_EQ(formatText("100%", {}, en), "100%");
    EXPECT_EQ(formatText("%y %", {1}, en), "%y %") << "no conversion: '%' stands for itself";
    EXPECT_EQ(formatText("%@ %d", {"only"}, en), "only %d") << "missing argument keeps its placeholder";
    EXPECT_EQ(formatText("%0$@", {"a"}, en), "%0$@");
    EXPECT_EQ(formatText("%@", {"a", "unused"}, en), "a");
    EXPECT_EQ(formatText("%@", {QString("%d%@")}, en), "%d%@") << "arguments are not formats";
    EXPECT_EQ(formatText(QString::fromUtf8("„%@“ – %@"), {QString::fromUtf8("Žluťoučký"), 5}, en),
              QString::fromUtf8("„Žluťoučký“ – 5"));
    EXPECT_EQ(formatText("%@", {2.5}, AppLanguage::cs), "2.5") << "%@ shows the value, not a localized number";
    EXPECT_EQ(formatText("[%-4@][%4@]", {"ab", "cd"}, en), "[ab  ][  cd]");
}

TEST(FormatText, FloatsRoundAndPadLikePrintf) {
    const auto en = AppLanguage::en;
    EXPECT_EQ(formatText("%.2f", {1.005}, en), "1.00"); // 1.005 is stored just below 1.005
    EXPECT_EQ(formatText("%.0f|%.0f", {0.5, 1.5}, en), "0|2");
    EXPECT_EQ(formatText("%06.1f|%-6.1f|%+.1f", {-2.5, 2.5, 2.5}, en), "-002.5|2.5   |+2.5");
    EXPECT_EQ(formatText("%e", {1234.5}, AppLanguage::cs), "1,234500e+03");
    EXPECT_EQ(formatText("%G", {0.00001}, en), "1E-05");
    EXPECT_EQ(formatText("%a", {1.5}, en), "0x1.8p+0");
    EXPECT_EQ(formatText("%.1f", {-0.04}, en), "-0.0");
    EXPECT_EQ(formatText("%5.1f", {std::numeric_limits<double>::infinity()}, en), "  inf");
    EXPECT_EQ(formatText("%.1f", {"3.25"}, AppLanguage::cs), "3,2") << "text arguments are read as numbers";
    EXPECT_EQ(formatText("%'.2f", {1234.5}, AppLanguage::cs), QString::fromUtf8("1\u00a0234,50"));
}

// The language chosen by editing the settings file while the app runs takes effect at once.
TEST_F(L10nTest, LanguageEditedInTheFileIsFollowed) {
    auto& l = L10n::shared();
    l.setLanguage(AppLanguage::en);
    Settings::shared().flush(); // in the file before the user's edit
    QSignalSpy spy(&l, &L10n::languageChanged);
    home.write(".config/Lomex/settings.json", R"({"language":"cs"})");
    ASSERT_TRUE(test::waitUntil([&] { return l.language() == AppLanguage::cs; }));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(l.t("tab.note"), QString::fromUtf8("Poznámka"));
}


// A read-only file comes from below as data naming it; the user reads it in the app's language.
TEST_F(L10nTest, ReadOnlyFileErrorIsWordedInTheAppLanguage) {
    auto& l = L10n::shared();
    const LomexError readOnly = jsonfile::readOnlyError("/home/u/.claude/settings.json");
    EXPECT_TRUE(jsonfile::isReadOnlyError(readOnly));
    EXPECT_EQ(readOnly.message, "/home/u/.claude/settings.json");
    l.setLanguage(AppLanguage::cs);
    EXPECT_EQ(l.worded(readOnly).message, QStringLiteral("/home/u/.claude/settings.json je jen pro čtení – nic se nezapsalo."));
    l.setLanguage(AppLanguage::en);
    EXPECT_EQ(l.worded(readOnly).message, QStringLiteral("/home/u/.claude/settings.json is read-only – nothing was written."));
    const LomexError other{QStringLiteral("POSIX"), EACCES, QStringLiteral("/x: Permission denied")};
    EXPECT_EQ(l.worded(other), other);
}
