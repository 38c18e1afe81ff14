#include "tabs/NoteView.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QVBoxLayout>

namespace lomex {

namespace {
const QString kKey = QStringLiteral("note");
} // namespace

NoteView::NoteView(QWidget* parent) : QWidget(parent), editor_(new QPlainTextEdit(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(editor_);
    // Whoever gives the note the keyboard means its text.
    setFocusProxy(editor_);
    QFont font = editor_->font();
    font.setPixelSize(13);
    editor_->setFont(font);
    editor_->setFrameShape(QFrame::NoFrame);
    editor_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor_->document()->setDocumentMargin(10);
    editor_->viewport()->setAutoFillBackground(false);
    editor_->setAutoFillBackground(false);
    editor_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; color: white; }"));
    QPalette pal = editor_->palette();
    pal.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    pal.setColor(QPalette::Text, Qt::white);
    editor_->setPalette(pal);
    retranslate();
    load();
    connect(editor_, &QPlainTextEdit::textChanged, this,
            [this] { Settings::shared().setString(kKey, editor_->toPlainText()); });
    connect(&Settings::shared(), &Settings::changed, this, [this](const QString& key) {
        if (key == kKey) load();
    });
    connect(&L10n::shared(), &L10n::languageChanged, this, &NoteView::retranslate);
}

void NoteView::retranslate() {
    editor_->setPlaceholderText(L10n::shared().t(QStringLiteral("note.placeholder")));
    // The placeholder reaches no screen reader; the same text names the note.
    editor_->setAccessibleName(editor_->placeholderText());
}

void NoteView::load() {
    const QString stored = Settings::shared().stringValue(kKey);
    if (stored == editor_->toPlainText()) return;
    const QSignalBlocker block(editor_);
    editor_->setPlainText(stored);
}

void NoteView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, int(0.07 * 255)));
    p.drawRoundedRect(QRectF(rect()), 12, 12);
}

} // namespace lomex
