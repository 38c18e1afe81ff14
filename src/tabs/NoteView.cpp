#include "tabs/NoteView.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "ui/ElidedLabel.h"
#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QVBoxLayout>

namespace lomex {

namespace {
const QString kKey = QStringLiteral("note");
// Typing that pauses this long is stored.
constexpr double kPauseSeconds = 0.5;
// A file that could not be written is tried again this often, so a file made writable again
// gets the note without another key.
constexpr double kRetrySeconds = 5;
} // namespace

NoteView::NoteView(Clock* clock, QWidget* parent)
    : QWidget(parent), editor_(new QPlainTextEdit(this)), error_(new ElidedLabel(this)),
      pause_(new Timer(clock, this)), retry_(new Timer(clock, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(editor_, 1);
    layout->addWidget(error_);
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
    editor_->installEventFilter(this);

    error_->setObjectName(QStringLiteral("noteError"));
    error_->setTextFormat(Qt::PlainText);
    QFont small = error_->font();
    small.setPixelSize(11);
    error_->setFont(small);
    error_->setContentsMargins(12, 0, 12, 6);
    QPalette red = error_->palette();
    red.setColor(QPalette::WindowText, QColor(255, 105, 97));
    error_->setPalette(red);
    error_->hide();

    retranslate();
    load();
    connect(editor_, &QPlainTextEdit::textChanged, this, &NoteView::edited);
    connect(pause_, &Timer::timeout, this, &NoteView::save);
    connect(retry_, &Timer::timeout, this, &NoteView::save);
    connect(&Settings::shared(), &Settings::changed, this, [this](const QString& key) {
        if (key == kKey && !saving_) load();
    });
    connect(&L10n::shared(), &L10n::languageChanged, this, &NoteView::retranslate);
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &NoteView::save);
}

NoteView::~NoteView() { save(); }

void NoteView::retranslate() {
    editor_->setPlaceholderText(L10n::shared().t(QStringLiteral("note.placeholder")));
    // The placeholder reaches no screen reader; the same text names the note.
    editor_->setAccessibleName(editor_->placeholderText());
    if (!error_->isHidden()) showError();
}

void NoteView::load() {
    // What was typed and not stored yet wins over the stored text.
    if (unsaved_) return;
    const QString stored = Settings::shared().stringValue(kKey);
    if (stored == editor_->toPlainText()) return;
    const QSignalBlocker block(editor_);
    editor_->setPlainText(stored);
    // Typing goes on after what is written, not before it; from then on the cursor stays where
    // the user leaves it.
    editor_->moveCursor(QTextCursor::End);
}

void NoteView::edited() {
    unsaved_ = true;
    pause_->start(kPauseSeconds);
}

void NoteView::save() {
    pause_->stop();
    if (!unsaved_) return;
    const QString text = editor_->toPlainText();
    saving_ = true;
    const auto error = Settings::shared().setString(kKey, text);
    saving_ = false;
    if (error) {
        // Kept on screen and tried again; the log has the reason too.
        showError();
        retry_->start(kRetrySeconds);
        return;
    }
    unsaved_ = false;
    retry_->stop();
    error_->hide();
}

void NoteView::showError() {
    error_->setText(L10n::shared().t(QStringLiteral("note.notSaved"), {Settings::shared().filePath()}));
    const auto& why = Settings::shared().lastError();
    error_->setToolTip(why ? L10n::shared().worded(*why).message : QString());
    error_->show();
}

bool NoteView::eventFilter(QObject* watched, QEvent* event) {
    // Leaving the note for another control or window is a pause too.
    if (watched == editor_ && event->type() == QEvent::FocusOut) save();
    return QWidget::eventFilter(watched, event);
}

void NoteView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, int(0.07 * 255)));
    p.drawRoundedRect(QRectF(rect()), 12, 12);
}

} // namespace lomex
