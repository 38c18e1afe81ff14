#include "TestEnv.h"
#include "core/Settings.h"
#include "core/Paths.h"
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lomex;
using lomex::test::LomexTest;

class SettingsTest : public LomexTest {};

TEST_F(SettingsTest, AbsentUntilRegisteredThenDefaultUntilWritten) {
    Settings s(paths::settingsFile());
    EXPECT_FALSE(s.hasValue("agentsEnabled"));
    EXPECT_TRUE(s.boolValue("agentsEnabled", true)) << "absent gives the caller's fallback";
    s.registerLaunchDefaults();
    EXPECT_TRUE(s.hasValue("agentsEnabled"));
    EXPECT_FALSE(s.isStored("agentsEnabled"));
    EXPECT_FALSE(s.boolValue("agentsEnabled", true));
    EXPECT_DOUBLE_EQ(s.doubleValue("hoverDelay"), 0.12);
    EXPECT_EQ(s.intValue("meetingLead"), 10);
    EXPECT_EQ(s.stringValue("agentReplyMode"), "type");
    EXPECT_FALSE(s.string("displayChoice").has_value()) << "unregistered keys stay absent";
    EXPECT_FALSE(s.value("onboardingDone").has_value());

    s.setBool("agentsEnabled", true);
    EXPECT_TRUE(s.isStored("agentsEnabled"));
    EXPECT_TRUE(s.boolValue("agentsEnabled"));
    s.remove("agentsEnabled");
    EXPECT_FALSE(s.boolValue("agentsEnabled", true)) << "removing falls back to the registered default";
}

TEST_F(SettingsTest, ExactlyTheLaunchDefaults) {
    const auto d = Settings::launchDefaults();
    EXPECT_EQ(d.size(), 27u);
    for (const char* key : {"tabOrder", "hiddenTabs", "onboardingDone", "language", "displayChoice", "pillMode",
                            "golemioKey", "note", "shelfItems", "clipExcluded"})
        EXPECT_FALSE(d.contains(key)) << key;
}

TEST_F(SettingsTest, WrongTypesReadAsAbsent) {
    Settings s(paths::settingsFile());
    s.setString("walkMinutes", "five");
    EXPECT_EQ(s.intValue("walkMinutes", 5), 5);
    s.setInt("note", 3);
    EXPECT_FALSE(s.string("note").has_value());
    s.setValue("tabOrder", nlohmann::json::array({"home", 3, "agents"}));
    EXPECT_EQ(s.stringList("tabOrder").value(), (QStringList{"home", "agents"}));
}

TEST_F(SettingsTest, PersistsAcrossInstancesWithPrivateMode) {
    {
        Settings s(paths::settingsFile());
        s.setString("language", "cs");
        s.setStringList("hiddenTabs", {"note", "shelf"});
        s.setValue("weatherPlace", nlohmann::json{{"name", "Brno"}, {"lat", 49.2}, {"lon", 16.6}});
    }
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(paths::settingsFile()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Settings again(paths::settingsFile());
    EXPECT_EQ(again.stringValue("language"), "cs");
    EXPECT_EQ(again.stringList("hiddenTabs").value(), (QStringList{"note", "shelf"}));
    EXPECT_EQ(again.data("weatherPlace")->at("name"), "Brno");
}

TEST_F(SettingsTest, ChangedSignalOnEveryWrite) {
    Settings s(paths::settingsFile());
    QSignalSpy spy(&s, &Settings::changed);
    s.setBool("agentsEnabled", true);
    s.setBool("agentsEnabled", true);
    s.remove("agentsEnabled");
    s.remove("agentsEnabled"); // nothing stored: no write, no signal
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(0).at(0).toString(), "agentsEnabled");
}

TEST_F(SettingsTest, CorruptFileIsMovedAsideNotOverwritten) {
    for (const QByteArray& bad : {QByteArray("{not json"), QByteArray("[1,2,3]"), QByteArray("\"text\"")}) {
        home.write(".config/Lomex/settings.json", bad);
        QFile::remove(paths::settingsFile() + ".corrupt");
        Settings s(paths::settingsFile());
        EXPECT_FALSE(s.isStored("language"));
        QFile aside(paths::settingsFile() + ".corrupt");
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly)) << bad.constData();
        EXPECT_EQ(aside.readAll(), bad);
        s.setString("language", "en");
        Settings again(paths::settingsFile());
        EXPECT_EQ(again.stringValue("language"), "en");
    }
}

// Each file set aside keeps a name of its own; none replaces an earlier one.
TEST_F(SettingsTest, EveryCorruptFileSetAsideIsKept) {
    const QString file = paths::settingsFile();
    const QByteArray bad[] = {"{one", "{two", "{three"};
    for (const QByteArray& b : bad) {
        home.write(".config/Lomex/settings.json", b);
        Settings s(file);
    }
    auto read = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    };
    EXPECT_EQ(read(file + ".corrupt"), "{one");
    EXPECT_EQ(read(file + ".corrupt-2"), "{two");
    EXPECT_EQ(read(file + ".corrupt-3"), "{three");
    EXPECT_FALSE(QFile::exists(file));
}

// A valid file larger than any read limit is read whole, not taken for a corrupt one.
TEST_F(SettingsTest, LargeValidFileIsReadWhole) {
    const std::string note(20 << 20, 'n');
    home.write(".config/Lomex/settings.json",
               QByteArray::fromStdString(nlohmann::json{{"note", note}, {"language", "cs"}}.dump()));
    Settings s(paths::settingsFile());
    EXPECT_EQ(s.stringValue("language"), "cs");
    EXPECT_EQ(s.stringValue("note").size(), qsizetype(note.size()));
    EXPECT_FALSE(QFile::exists(paths::settingsFile() + ".corrupt"));
}

TEST_F(SettingsTest, KilledWriterLeavesOldOrNewFileNeverPartial) {
    {
        Settings s(paths::settingsFile());
        s.setString("note", "before");
    }
    const QString big(200000, QChar('x'));
    for (int round = 0; round < 20; ++round) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Settings s(paths::settingsFile());
            for (int i = 0;; ++i) s.setString("note", big + QString::number(i));
        }
        usleep(2000 + round * 500);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        Settings check(paths::settingsFile());
        const QString note = check.stringValue("note");
        EXPECT_TRUE(note == "before" || note.startsWith(big)) << "round " << round;
        EXPECT_FALSE(QFile::exists(paths::settingsFile() + ".corrupt"));
    }
}

namespace {
QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

// Deep nesting is handled like any unreadable file: set aside, never rewritten (rewriting it
// indents every level, so the file grows with the square of the depth).
TEST_F(SettingsTest, TooDeepFileIsSetAsideNotRewritten) {
    const QByteArray deep = "{\"x\":" + QByteArray(2000, '[') + QByteArray(2000, ']') + "}";
    home.write(".config/Lomex/settings.json", deep);
    Settings s(paths::settingsFile());
    EXPECT_FALSE(s.isStored("x"));
    EXPECT_EQ(fileBytes(paths::settingsFile() + ".corrupt"), deep);
    s.setBool("agentsEnabled", true);
    EXPECT_LT(fileBytes(paths::settingsFile()).size(), 100);
}

// The user edits the file by hand while the app runs: the edit is read, signalled, and kept
// by our next write, which changes only its own key.
TEST_F(SettingsTest, HandEditDuringARunSurvivesTheNextSwitch) {
    Settings s(paths::settingsFile());
    s.setString("language", "cs");
    QSignalSpy spy(&s, &Settings::changed);
    // An editor's save: a new file renamed over the old one.
    home.write(".config/Lomex/settings.tmp", R"({"language":"en","note":"by hand"})");
    ASSERT_EQ(std::rename(QFile::encodeName(home.file(".config/Lomex/settings.tmp")).constData(),
                          QFile::encodeName(paths::settingsFile()).constData()), 0);
    ASSERT_TRUE(test::waitUntil([&] { return s.stringValue("note") == "by hand"; }));
    EXPECT_EQ(s.stringValue("language"), "en");
    QStringList signalled;
    for (const auto& args : spy) signalled << args.at(0).toString();
    signalled.sort();
    EXPECT_EQ(signalled, (QStringList{"language", "note"}));

    // Edited in place this time, and the switch is flipped before the change is seen.
    home.write(".config/Lomex/settings.json", R"({"language":"en","note":"by hand","mine":1})");
    ASSERT_FALSE(s.setBool("agentsEnabled", true));
    EXPECT_EQ(s.intValue("mine"), 1);
    Settings again(paths::settingsFile());
    EXPECT_EQ(again.stringValue("note"), "by hand");
    EXPECT_EQ(again.intValue("mine"), 1);
    EXPECT_TRUE(again.boolValue("agentsEnabled"));

    // Our own writes are not taken for outside changes: a later change by another program is
    // seen, and nothing before it.
    spy.clear();
    ASSERT_FALSE(s.setString("language", "cs"));
    ASSERT_FALSE(again.setString("note", "later"));
    ASSERT_TRUE(test::waitUntil([&] { return spy.count() >= 2; }));
    QStringList keys;
    for (const auto& args : spy) keys << args.at(0).toString();
    EXPECT_EQ(keys, (QStringList{"language", "note"}));
}

// A file the user made read-only is not replaced, and the failed write leaves the value as the
// file holds it; the caller gets the error, and observers hear the key to show the stored value.
TEST_F(SettingsTest, ReadOnlyFileIsRefusedAndTheWriteReportsIt) {
    home.write(".config/Lomex/settings.json", R"({"agentsEnabled":false})");
    const QByteArray before = fileBytes(paths::settingsFile());
    ::chmod(QFile::encodeName(paths::settingsFile()).constData(), 0444);
    Settings s(paths::settingsFile());
    QSignalSpy spy(&s, &Settings::changed);
    const auto error = s.setBool("agentsEnabled", true);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->message.contains(paths::settingsFile())) << error->message.toStdString();
    EXPECT_FALSE(s.boolValue("agentsEnabled"));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(fileBytes(paths::settingsFile()), before);
    struct stat st {};
    ::stat(QFile::encodeName(paths::settingsFile()).constData(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

// Files no parse can take: a number past any double, or a file far larger than any settings
// (a sparse one claims terabytes). Each is set aside like any unreadable file, and the run
// starts from the defaults; the same number written by hand while we run is only logged.
TEST_F(SettingsTest, OverflowingOrOversizedFileIsSetAside) {
    const QString file = paths::settingsFile();
    for (const QByteArray& bad : {QByteArray(R"({"onboardingDone":true,"hoverDelay":1e400})"),
                                  QByteArray(R"({"walkMinutes":-1e999})")}) {
        home.write(".config/Lomex/settings.json", bad);
        QFile::remove(file + ".corrupt");
        Settings s(file);
        EXPECT_FALSE(s.isStored("onboardingDone"));
        EXPECT_EQ(fileBytes(file + ".corrupt"), bad);
    }
    QFile::remove(file + ".corrupt");
    const qint64 huge = 3LL << 40;
    home.write(".config/Lomex/settings.json", "{}");
    ASSERT_EQ(::truncate(QFile::encodeName(file).constData(), huge), 0);
    {
        Settings s(file);
        EXPECT_FALSE(s.isStored("language"));
        EXPECT_EQ(QFileInfo(file + ".corrupt").size(), huge);
        // A write that would make the file larger than we read back is refused, not stored.
        const std::string tooBig(40 << 20, 'n');
        EXPECT_TRUE(s.setString("note", QString::fromStdString(tooBig)).has_value());
        EXPECT_FALSE(QFile::exists(file));
    }

    Settings s(file);
    ASSERT_FALSE(s.setInt("walkMinutes", 7));
    home.write(".config/Lomex/settings.json", R"({"walkMinutes": 1e999})");
    s.reload();
    EXPECT_EQ(s.intValue("walkMinutes"), 7);
}

// A hand-edited file whose every key holds a value of another type: each key reads as its
// registered default, and the file stays as the user left it.
TEST_F(SettingsTest, EveryKeyOfTheWrongTypeReadsAsItsDefault) {
    const nlohmann::json defaults = Settings::launchDefaults();
    nlohmann::json wrong = nlohmann::json::object();
    const nlohmann::json intWrong[] = {2.5, -1e308, true, "5", nullptr, nlohmann::json::array({1}), 1e10};
    int n = 0;
    for (auto it = defaults.begin(); it != defaults.end(); ++it) {
        if (it->is_boolean()) wrong[it.key()] = it->get<bool>() ? 0 : 1;
        else if (it->is_number_integer()) wrong[it.key()] = intWrong[n++ % std::size(intWrong)];
        else if (it->is_number()) wrong[it.key()] = "0.5";
        else wrong[it.key()] = 3;
    }
    for (const char* key : {"tabOrder", "hiddenTabs", "clipExcluded", "shelfItems"}) wrong[key] = "home";
    for (const char* key : {"language", "golemioKey", "note", "idosStop"}) wrong[key] = nlohmann::json::array();
    const QByteArray bytes = QByteArray::fromStdString(wrong.dump());
    home.write(".config/Lomex/settings.json", bytes);

    Settings s(paths::settingsFile());
    s.registerLaunchDefaults();
    for (auto it = defaults.begin(); it != defaults.end(); ++it) {
        const QString key = QString::fromStdString(it.key());
        SCOPED_TRACE(it.key());
        if (it->is_boolean()) {
            EXPECT_EQ(s.boolValue(key, !it->get<bool>()), it->get<bool>());
        } else if (it->is_number_integer()) {
            EXPECT_EQ(s.intValue(key, -7), it->get<int>());
        } else if (it->is_number()) {
            EXPECT_EQ(s.doubleValue(key, -7), it->get<double>());
        } else {
            EXPECT_EQ(s.stringValue(key, "x"), QString::fromStdString(it->get<std::string>()));
        }
    }
    for (const char* key : {"tabOrder", "hiddenTabs", "clipExcluded", "shelfItems"}) EXPECT_FALSE(s.stringList(key)) << key;
    for (const char* key : {"language", "golemioKey", "note", "idosStop"}) EXPECT_FALSE(s.string(key)) << key;
    EXPECT_EQ(fileBytes(paths::settingsFile()), bytes);
    EXPECT_FALSE(QFile::exists(paths::settingsFile() + ".corrupt"));
}
