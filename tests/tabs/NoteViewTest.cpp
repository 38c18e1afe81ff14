#include "QStringPrint.h"
#include "TestEnv.h"
#include "FakeClock.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "tabs/NoteView.h"
#include <QFile>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <nlohmann/json.hpp>

using namespace lomex;

namespace {
class NoteViewTest : public test::LomexTest {
protected:
    // The note as the file on disk holds it, not as Settings remembers it.
    static QString noteOnDisk() {
        Settings::shared().flush(); // written on the settings' own thread
        QFile f(Settings::shared().filePath());
        if (!f.open(QIODevice::ReadOnly)) return "(no file)";
        const auto root = nlohmann::json::parse(f.readAll().toStdString(), nullptr, false);
        return root.contains("note") ? QString::fromStdString(root["note"].get<std::string>()) : "(no note)";
    }
    static void setWritable(bool writable) {
        QFile::setPermissions(Settings::shared().filePath(), writable ? QFile::ReadOwner | QFile::WriteOwner : QFile::ReadOwner);
    }
    QLabel* errorLine(NoteView& view) const { return view.findChild<QLabel*>("noteError"); }
    FakeClock clock;
};
} // namespace

TEST_F(NoteViewTest, StoresWhatIsTypedAndFollowsOutsideChanges) {
    L10n::shared().setLanguage(AppLanguage::en);
    NoteView view(&clock);
    QPlainTextEdit* editor = view.editor();
    EXPECT_TRUE(editor->toPlainText().isEmpty());
    EXPECT_EQ(editor->placeholderText(), "Quick note…");
    EXPECT_FALSE(Settings::shared().isStored(keys::note)); // nothing written by showing it

    view.show();
    editor->setFocus();
    QTest::keyClicks(editor, "ahoj");
    clock.advance(0.5);
    EXPECT_EQ(Settings::shared().get(keys::note), "ahoj");

    // Our own write coming back leaves cursor, selection and undo as they were.
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(1);
    cursor.setPosition(3, QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
    Settings::shared().set(keys::note, "ahoj");
    EXPECT_EQ(editor->textCursor().selectedText(), "ho");
    EXPECT_TRUE(editor->document()->isUndoAvailable());

    // Another writer's text replaces what is shown.
    Settings::shared().set(keys::note, "  \n");
    EXPECT_EQ(editor->toPlainText(), "  \n");
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(editor->placeholderText(), "Rychlá poznámka…");
    EXPECT_EQ(editor->toPlainText(), "  \n");
}

// A screen reader names the note by what it is; the placeholder reaches none.
TEST_F(NoteViewTest, TheEditorIsNamedInBothLanguages) {
    for (const auto& [language, name] : {std::pair{AppLanguage::en, "Quick note…"}, std::pair{AppLanguage::cs, "Rychlá poznámka…"}}) {
        L10n::shared().setLanguage(language);
        NoteView view(&clock);
        EXPECT_EQ(view.editor()->accessibleName(), QString::fromUtf8(name));
    }
}

// Typing is never slowed by a write of the whole settings file: the note is stored once
// typing pauses, and at once when the notch closes, the app quits or the view goes.
TEST_F(NoteViewTest, StoresOnceTypingPausesAndWhenAskedToSaveNow) {
    Settings::shared().setByName("other", "x"); // the file exists
    const std::vector<std::pair<const char*, std::function<void(std::unique_ptr<NoteView>&)>>> saveNow = {
        {"save()", [](std::unique_ptr<NoteView>& v) { v->save(); }},
        {"view destroyed", [](std::unique_ptr<NoteView>& v) { v.reset(); }},
    };
    for (const auto& [how, now] : saveNow) {
        SCOPED_TRACE(how);
        Settings::shared().set(keys::note, "");
        auto view = std::make_unique<NoteView>(&clock);
        view->show();
        int writes = 0;
        QObject::connect(&Settings::shared(), &Settings::changed, view.get(), [&](const QString& key) { writes += key == "note"; });
        QTest::keyClicks(view->editor(), "ab");
        clock.advance(0.3);
        QTest::keyClicks(view->editor(), "cd");
        clock.advance(0.3);
        EXPECT_EQ(noteOnDisk(), "") << "still typing";
        clock.advance(0.3);
        EXPECT_EQ(noteOnDisk(), "abcd");
        EXPECT_EQ(writes, 1);
        QTest::keyClicks(view->editor(), "e");
        now(view);
        EXPECT_EQ(noteOnDisk(), "abcde");
    }
}

// A settings file the user made read-only keeps what was typed on screen and says so in one
// line that names the file; once the file can be written, the next key, or a little later
// without one, stores it all.
TEST_F(NoteViewTest, ATextThatCannotBeSavedStaysAndIsSavedLater) {
    for (const bool byKey : {true, false}) {
        SCOPED_TRACE(byKey ? "next key" : "later");
        L10n::shared().setLanguage(AppLanguage::en);
        Settings::shared().set(keys::note, "old");
        Settings::shared().flush();
        NoteView view(&clock);
        view.show();
        setWritable(false);
        view.editor()->moveCursor(QTextCursor::End);
        QTest::keyClicks(view.editor(), "hello");
        clock.advance(1);
        EXPECT_EQ(view.editor()->toPlainText(), "oldhello");
        EXPECT_EQ(noteOnDisk(), "old");
        ASSERT_TRUE(errorLine(view));
        EXPECT_TRUE(errorLine(view)->isVisible());
        EXPECT_TRUE(errorLine(view)->text().contains(Settings::shared().filePath())) << errorLine(view)->text().toStdString();
        EXPECT_TRUE(errorLine(view)->text().startsWith("The note")) << errorLine(view)->text().toStdString();
        // The language is a setting too: chosen while the file can be written.
        setWritable(true);
        L10n::shared().setLanguage(AppLanguage::cs);
        Settings::shared().flush();
        setWritable(false);
        EXPECT_TRUE(errorLine(view)->text().startsWith(QString::fromUtf8("Poznámk"))) << errorLine(view)->text().toStdString();
        EXPECT_TRUE(errorLine(view)->text().contains(Settings::shared().filePath()));
        EXPECT_EQ(noteOnDisk(), "old") << "nothing stored meanwhile";

        setWritable(true);
        if (byKey) QTest::keyClicks(view.editor(), "!");
        clock.advance(6);
        EXPECT_EQ(noteOnDisk(), byKey ? "oldhello!" : "oldhello");
        EXPECT_EQ(view.editor()->toPlainText(), byKey ? "oldhello!" : "oldhello");
        EXPECT_FALSE(errorLine(view)->isVisible());
    }
}

// The note is bounded: a paste past the bound is cut there before it reaches the editor, typing
// past it is taken back, and the line under the note says so (not that the file can't be
// written). Nothing is tried again, and what fits is stored.
TEST_F(NoteViewTest, ThePasteIsCutAtTheBoundAndTheLineSaysWhy) {
    L10n::shared().setLanguage(AppLanguage::en);
    const int bound = keys::note.maxChars;
    NoteView view(&clock);
    view.show();
    QTest::keyClicks(view.editor(), "start ");
    // Text of every shape: lines, tabs, control characters, characters outside the BMP.
    QString paste;
    const QString piece = QString::fromUtf8("line\tčř \x01 \U0001F600\n");
    while (paste.size() < bound + 1000) paste += piece;
    QGuiApplication::clipboard()->setText(paste);
    view.editor()->paste();
    EXPECT_EQ(view.editor()->document()->characterCount() - 1, bound);
    ASSERT_TRUE(errorLine(view)->isVisible());
    EXPECT_EQ(errorLine(view)->text(), L10n::shared().t("note.tooLong", {bound}));
    EXPECT_TRUE(errorLine(view)->text().contains("at most")) << errorLine(view)->text().toStdString();
    EXPECT_FALSE(errorLine(view)->text().contains("written"));

    // Typing at the bound is refused; the note as cut is stored.
    QTest::keyClicks(view.editor(), "x");
    EXPECT_EQ(view.editor()->document()->characterCount() - 1, bound);
    EXPECT_TRUE(errorLine(view)->isVisible());
    clock.advance(1);
    EXPECT_EQ(noteOnDisk().size(), bound);
    EXPECT_TRUE(noteOnDisk().startsWith("start line"));

    // The settings take no longer text from anyone, at once and without touching the file.
    const auto refused = Settings::shared().set(keys::note, QString(bound + 1, 'a'));
    ASSERT_TRUE(refused);
    EXPECT_TRUE(Settings::isTooLong(*refused));
    EXPECT_EQ(Settings::shared().get(keys::note).size(), bound);
}
