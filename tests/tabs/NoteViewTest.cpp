#include "TestEnv.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "tabs/NoteView.h"
#include <QPlainTextEdit>
#include <QTest>

using namespace lomex;

namespace {
class NoteViewTest : public test::LomexTest {};
} // namespace

TEST_F(NoteViewTest, StoresEveryKeystrokeAndFollowsOutsideChanges) {
    L10n::shared().setLanguage(AppLanguage::en);
    NoteView view;
    QPlainTextEdit* editor = view.editor();
    EXPECT_TRUE(editor->toPlainText().isEmpty());
    EXPECT_EQ(editor->placeholderText(), "Quick note…");
    EXPECT_FALSE(Settings::shared().isStored("note")); // nothing written by showing it

    view.show();
    editor->setFocus();
    QTest::keyClicks(editor, "ahoj");
    EXPECT_EQ(Settings::shared().stringValue("note"), "ahoj");

    // Our own write coming back leaves cursor, selection and undo as they were.
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(1);
    cursor.setPosition(3, QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
    Settings::shared().setString("note", "ahoj");
    EXPECT_EQ(editor->textCursor().selectedText(), "ho");
    EXPECT_TRUE(editor->document()->isUndoAvailable());

    // Another writer's text replaces what is shown.
    Settings::shared().setString("note", "  \n");
    EXPECT_EQ(editor->toPlainText(), "  \n");
    L10n::shared().setLanguage(AppLanguage::cs);
    EXPECT_EQ(editor->placeholderText(), "Rychlá poznámka…");
    EXPECT_EQ(editor->toPlainText(), "  \n");
}

// A screen reader names the note by what it is; the placeholder reaches none.
TEST_F(NoteViewTest, TheEditorIsNamedInBothLanguages) {
    for (const auto& [language, name] : {std::pair{AppLanguage::en, "Quick note…"}, std::pair{AppLanguage::cs, "Rychlá poznámka…"}}) {
        L10n::shared().setLanguage(language);
        NoteView view;
        EXPECT_EQ(view.editor()->accessibleName(), QString::fromUtf8(name));
    }
}
