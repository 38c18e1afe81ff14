#include "TestEnv.h"
#include "core/Settings.h"
#include "core/Paths.h"
#include <QFile>
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
