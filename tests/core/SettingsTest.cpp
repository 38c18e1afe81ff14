#include "TestEnv.h"
#include "core/Settings.h"
#include "core/JsonFile.h"
#include "core/Paths.h"
#include <QFile>
#include <QFileInfo>
#include <QSet>
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
    EXPECT_FALSE(s.valueByName("agentsEnabled").has_value());
    EXPECT_FALSE(s.find(keys::agentsEnabled).has_value());
    EXPECT_EQ(s.get(keys::meetingLead), 10) << "absent gives the key's own default, registered or not";
    s.registerLaunchDefaults();
    EXPECT_TRUE(s.valueByName("agentsEnabled").has_value());
    EXPECT_EQ(s.find(keys::agentsEnabled), false);
    EXPECT_FALSE(s.isStored(keys::agentsEnabled));
    EXPECT_FALSE(s.get(keys::agentsEnabled));
    EXPECT_DOUBLE_EQ(s.get(keys::hoverDelay), 0.12);
    EXPECT_EQ(s.get(keys::meetingLead), 10);
    EXPECT_EQ(s.get(keys::agentReplyMode), "type");
    EXPECT_FALSE(s.find(keys::displayChoice).has_value()) << "unregistered keys stay absent";
    EXPECT_FALSE(s.valueByName("onboardingDone").has_value());

    s.set(keys::agentsEnabled, true);
    EXPECT_TRUE(s.isStored(keys::agentsEnabled));
    EXPECT_TRUE(s.get(keys::agentsEnabled));
    s.remove(keys::agentsEnabled);
    EXPECT_FALSE(s.get(keys::agentsEnabled)) << "removing falls back to the registered default";
}

// Keys are reached through the table only: nothing reads or writes by a name, and a write
// takes the key's own type (a misspelt key itself: tests/compile_fail/MisspeltKey.cpp).
template <typename S> concept ReadsByName = requires(const S& s) { s.get(QStringLiteral("agentsEnabled")); };
template <typename S> concept WritesByName = requires(S& s) { s.set(QStringLiteral("agentsEnabled"), true); };
template <typename S> concept WritesTextAsBool = requires(S& s) { s.set(keys::agentsEnabled, "yes"); };
template <typename S> concept WritesDoubleAsInt = requires(S& s) { s.set(keys::meetingLead, 2.5); };
static_assert(!ReadsByName<Settings> && !WritesByName<Settings>);
static_assert(!WritesTextAsBool<Settings> && !WritesDoubleAsInt<Settings>);

TEST_F(SettingsTest, KeyTableNamesEachKeyOnce) {
    QStringList names;
    std::apply([&](const auto*... key) { (names.append(QString::fromLatin1(key->name)), ...); }, keys::all);
    EXPECT_EQ(names.size(), 45);
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), names.size());
    // Bounds hold their own default.
    std::apply([&](const auto*... key) {
        const auto check = [](const auto& k) { EXPECT_EQ(k.bounded(k.defaultValue()), k.defaultValue()) << k.name; };
        (check(*key), ...);
    }, keys::all);
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
    s.setByName("walkMinutes", "five");
    EXPECT_EQ(s.get(keys::walkMinutes), 5);
    s.setByName("note", 3);
    EXPECT_FALSE(s.find(keys::note).has_value());
    s.setByName("tabOrder", nlohmann::json::array({"home", 3, "agents"}));
    EXPECT_EQ(s.find(keys::tabOrder).value(), (QStringList{"home", "agents"}));
}

TEST_F(SettingsTest, PersistsAcrossInstancesWithPrivateMode) {
    {
        Settings s(paths::settingsFile());
        s.set(keys::language, "cs");
        s.set(keys::hiddenTabs, QStringList{"note", "shelf"});
        s.set(keys::weatherPlace, nlohmann::json{{"name", "Brno"}, {"lat", 49.2}, {"lon", 16.6}});
    }
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(paths::settingsFile()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Settings again(paths::settingsFile());
    EXPECT_EQ(again.get(keys::language), "cs");
    EXPECT_EQ(again.find(keys::hiddenTabs).value(), (QStringList{"note", "shelf"}));
    EXPECT_EQ(again.find(keys::weatherPlace)->at("name"), "Brno");
}

TEST_F(SettingsTest, ChangedSignalOnEveryWrite) {
    Settings s(paths::settingsFile());
    QSignalSpy spy(&s, &Settings::changed);
    s.set(keys::agentsEnabled, true);
    s.set(keys::agentsEnabled, true);
    s.remove(keys::agentsEnabled);
    s.remove(keys::agentsEnabled); // nothing stored: no write, no signal
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(0).at(0).toString(), "agentsEnabled");
}

TEST_F(SettingsTest, CorruptFileIsMovedAsideNotOverwritten) {
    for (const QByteArray& bad : {QByteArray("{not json"), QByteArray("[1,2,3]"), QByteArray("\"text\"")}) {
        home.write(".config/Lomex/settings.json", bad);
        QFile::remove(paths::settingsFile() + ".corrupt");
        Settings s(paths::settingsFile());
        EXPECT_FALSE(s.isStored(keys::language));
        QFile aside(paths::settingsFile() + ".corrupt");
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly)) << bad.constData();
        EXPECT_EQ(aside.readAll(), bad);
        s.set(keys::language, "en");
        ASSERT_TRUE(s.flush());
        Settings again(paths::settingsFile());
        EXPECT_EQ(again.get(keys::language), "en");
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
    EXPECT_EQ(s.get(keys::language), "cs");
    EXPECT_EQ(s.get(keys::note).size(), qsizetype(note.size()));
    EXPECT_FALSE(QFile::exists(paths::settingsFile() + ".corrupt"));
}

TEST_F(SettingsTest, KilledWriterLeavesOldOrNewFileNeverPartial) {
    {
        Settings s(paths::settingsFile());
        s.set(keys::note, "before");
    }
    const QString big(200000, QChar('x'));
    for (int round = 0; round < 20; ++round) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Settings s(paths::settingsFile());
            for (int i = 0;; ++i) {
                s.set(keys::note, big + QString::number(i));
                s.flush();
            }
        }
        usleep(2000 + round * 500);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        Settings check(paths::settingsFile());
        const QString note = check.get(keys::note);
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
    EXPECT_FALSE(s.isStoredByName("x"));
    EXPECT_EQ(fileBytes(paths::settingsFile() + ".corrupt"), deep);
    s.set(keys::agentsEnabled, true);
    ASSERT_TRUE(s.flush());
    EXPECT_LT(fileBytes(paths::settingsFile()).size(), 100);
}

// The user edits the file by hand while the app runs: the edit is read, signalled, and kept
// by our next write, which changes only its own key.
TEST_F(SettingsTest, HandEditDuringARunSurvivesTheNextSwitch) {
    Settings s(paths::settingsFile());
    s.set(keys::language, "cs");
    ASSERT_TRUE(s.flush()); // in the file before the user's edit
    QSignalSpy spy(&s, &Settings::changed);
    // An editor's save: a new file renamed over the old one.
    home.write(".config/Lomex/settings.tmp", R"({"language":"en","note":"by hand"})");
    ASSERT_EQ(std::rename(QFile::encodeName(home.file(".config/Lomex/settings.tmp")).constData(),
                          QFile::encodeName(paths::settingsFile()).constData()), 0);
    ASSERT_TRUE(test::waitUntil([&] { return s.get(keys::note) == "by hand"; }));
    EXPECT_EQ(s.get(keys::language), "en");
    QStringList signalled;
    for (const auto& args : spy) signalled << args.at(0).toString();
    signalled.sort();
    EXPECT_EQ(signalled, (QStringList{"language", "note"}));

    // Edited in place this time, and the switch is flipped before the change is seen.
    home.write(".config/Lomex/settings.json", R"({"language":"en","note":"by hand","mine":1})");
    ASSERT_FALSE(s.set(keys::agentsEnabled, true));
    ASSERT_TRUE(s.flush());
    EXPECT_EQ(s.valueByName("mine"), 1);
    Settings again(paths::settingsFile());
    EXPECT_EQ(again.get(keys::note), "by hand");
    EXPECT_EQ(again.valueByName("mine"), 1);
    EXPECT_TRUE(again.get(keys::agentsEnabled));

    // Our own writes are not taken for outside changes: a later change by another program is
    // seen, and nothing before it.
    spy.clear();
    ASSERT_FALSE(s.set(keys::language, "cs"));
    ASSERT_TRUE(s.flush()); // the other program writes after us
    ASSERT_FALSE(again.set(keys::note, "later"));
    ASSERT_TRUE(test::waitUntil([&] { return spy.count() >= 2; }));
    QStringList keys;
    for (const auto& args : spy) keys << args.at(0).toString();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"language", "note"}));
}

// A file the user made read-only is not replaced, and the failed write leaves the value as the
// file holds it; saveFailed reports the error, and observers hear the key to show the stored value.
TEST_F(SettingsTest, ReadOnlyFileIsRefusedAndTheWriteReportsIt) {
    home.write(".config/Lomex/settings.json", R"({"agentsEnabled":false})");
    const QByteArray before = fileBytes(paths::settingsFile());
    ::chmod(QFile::encodeName(paths::settingsFile()).constData(), 0444);
    Settings s(paths::settingsFile());
    QSignalSpy spy(&s, &Settings::changed);
    QSignalSpy failed(&s, &Settings::saveFailed);
    EXPECT_FALSE(s.set(keys::agentsEnabled, true));
    EXPECT_TRUE(s.flush());
    ASSERT_EQ(failed.count(), 1);
    ASSERT_TRUE(s.lastError());
    EXPECT_TRUE(s.lastError()->message.contains(paths::settingsFile())) << s.lastError()->message.toStdString();
    EXPECT_FALSE(s.get(keys::agentsEnabled));
    EXPECT_EQ(spy.count(), 2) << "the write, and the key back as stored";
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
        EXPECT_FALSE(s.isStored(keys::onboardingDone));
        EXPECT_EQ(fileBytes(file + ".corrupt"), bad);
    }
    QFile::remove(file + ".corrupt");
    const qint64 huge = 3LL << 40;
    home.write(".config/Lomex/settings.json", "{}");
    ASSERT_EQ(::truncate(QFile::encodeName(file).constData(), huge), 0);
    {
        Settings s(file);
        EXPECT_FALSE(s.isStored(keys::language));
        EXPECT_EQ(QFileInfo(file + ".corrupt").size(), huge);
        // A write that would make the file larger than we read back is refused, not stored.
        const std::string tooBig(40 << 20, 'n');
        EXPECT_TRUE(s.set(keys::note, QString::fromStdString(tooBig)).has_value());
        EXPECT_FALSE(QFile::exists(file));
    }

    Settings s(file);
    ASSERT_FALSE(s.set(keys::walkMinutes, 7));
    home.write(".config/Lomex/settings.json", R"({"walkMinutes": 1e999})");
    s.reload();
    EXPECT_EQ(s.get(keys::walkMinutes), 7);
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
    std::apply([&](const auto*... key) {
        const auto check = [&](const auto& k) {
            SCOPED_TRACE(k.name);
            if (k.registered == Registered::atLaunch) {
                EXPECT_EQ(s.get(k), k.defaultValue());
            } else if (wrong.contains(k.name)) {
                EXPECT_FALSE(s.find(k).has_value());
            }
        };
        (check(*key), ...);
    }, keys::all);
    EXPECT_EQ(fileBytes(paths::settingsFile()), bytes);
    EXPECT_FALSE(QFile::exists(paths::settingsFile() + ".corrupt"));
}

// A switch flip and a store of a 1.6 M-character note change the value at once, and nothing of
// the file is read, parsed or written on the GUI thread; what is written in one pass goes out
// in one write, which keeps keys written by hand meanwhile; our own write is not read back.
TEST_F(SettingsTest, WritesLeaveTheGuiThreadGoTogetherAndAreNotReadBack) {
    QString note;
    const QString piece = QString::fromUtf8("Poznámka\t\"quoted\" \x01 \U0001F600\n");
    while (note.size() < 1'600'000) note += piece;
    home.write(".config/Lomex/settings.json",
               QByteArray::fromStdString(nlohmann::json{{"note", note.toStdString()}, {"language", "cs"}}.dump()));
    Settings s(paths::settingsFile());
    const Settings::FileWork start = s.fileWork();
    QSignalSpy changed(&s, &Settings::changed);
    QSignalSpy saved(&s, &Settings::saved);

    s.set(keys::agentsEnabled, true);
    EXPECT_TRUE(s.get(keys::agentsEnabled)) << "readers see a write at once";
    EXPECT_EQ(changed.count(), 1);
    s.set(keys::note, note + "!");
    s.set(keys::walkMinutes, 7);
    EXPECT_EQ(s.get(keys::note).size(), note.size() + 1);
    ASSERT_TRUE(saved.wait(10000));

    Settings::FileWork now = s.fileWork();
    EXPECT_EQ(now.guiParses, start.guiParses);
    EXPECT_EQ(now.guiWrites, start.guiWrites);
    EXPECT_EQ(now.writes - start.writes, 1) << "three writes, one file write";
    {
        Settings disk(paths::settingsFile());
        EXPECT_TRUE(disk.get(keys::agentsEnabled));
        EXPECT_EQ(disk.get(keys::walkMinutes), 7);
        EXPECT_EQ(disk.get(keys::note), note + "!");
        EXPECT_EQ(disk.get(keys::language), "cs");
    }
    // The watcher saw our write and let it be: no parse anywhere.
    QTest::qWait(500);
    EXPECT_EQ(s.fileWork().parses, now.parses);

    // A hand edit is read (off the GUI thread) and kept by the next write.
    home.write(".config/Lomex/settings.json",
               QByteArray::fromStdString(nlohmann::json{{"note", "by hand"}, {"agentsEnabled", true}}.dump()));
    ASSERT_TRUE(test::waitUntil([&] { return s.get(keys::note) == "by hand"; }));
    s.set(keys::hoverDelay, 0.5);
    ASSERT_TRUE(s.flush());
    Settings disk(paths::settingsFile());
    EXPECT_EQ(disk.get(keys::note), "by hand");
    EXPECT_DOUBLE_EQ(disk.get(keys::hoverDelay), 0.5);
    EXPECT_FALSE(disk.isStored(keys::walkMinutes)) << "the hand edit took it out";
    EXPECT_EQ(s.fileWork().guiParses, start.guiParses);
    EXPECT_EQ(s.fileWork().guiWrites, start.guiWrites);
}

// Quitting waits for the last write: the value written just before is in the file.
TEST_F(SettingsTest, TheLastWriteBeforeQuittingIsKept) {
    {
        Settings s(paths::settingsFile());
        s.set(keys::note, "one");
        s.set(keys::note, "last words");
        EXPECT_TRUE(s.flush(Settings::flushLimitMs));
        s.set(keys::language, "en");
    } // going away flushes too
    Settings again(paths::settingsFile());
    EXPECT_EQ(again.get(keys::note), "last words");
    EXPECT_EQ(again.get(keys::language), "en");
}

// A write that cannot reach the file (made read-only) is reported where it was made, and the
// key goes back to what the file holds; the next write that works says so.
TEST_F(SettingsTest, AFailedWriteIsReportedAndTheKeyGoesBack) {
    Settings s(paths::settingsFile());
    s.set(keys::agentsEnabled, false);
    ASSERT_TRUE(s.flush());
    QFile::setPermissions(paths::settingsFile(), QFile::ReadOwner);
    QSignalSpy failed(&s, &Settings::saveFailed);
    QSignalSpy saved(&s, &Settings::saved);
    s.set(keys::agentsEnabled, true);
    EXPECT_TRUE(s.get(keys::agentsEnabled));
    ASSERT_TRUE(failed.wait(10000));
    EXPECT_EQ(failed.at(0).at(0).toString(), "agentsEnabled");
    EXPECT_FALSE(s.get(keys::agentsEnabled)) << "back to what the file holds";
    ASSERT_TRUE(s.lastError());
    EXPECT_TRUE(jsonfile::isReadOnlyError(*s.lastError()));
    EXPECT_EQ(saved.count(), 0);

    QFile::setPermissions(paths::settingsFile(), QFile::ReadOwner | QFile::WriteOwner);
    s.set(keys::agentsEnabled, true);
    ASSERT_TRUE(saved.wait(10000));
    EXPECT_FALSE(s.lastError());
    EXPECT_TRUE(Settings(paths::settingsFile()).get(keys::agentsEnabled));
}
