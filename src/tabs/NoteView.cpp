#include "tabs/NoteView.h"
#include "core/Clock.h"
#include "core/L10n.h"
#include "core/Settings.h"
#include "ui/ElidedLabel.h"
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QVBoxLayout>

namespace lomex {

namespace {
// Typing that pauses this long is stored.
constexpr double kPauseSeconds = 0.5;
// A file that could not be written is tried again this often, so a file made writable again
// gets the note without another key.
constexpr double kRetrySeconds = 5;

// Pastes and drops are cut to the room the note's bound leaves before they reach the document
// (tens of megabytes would hold the window for seconds, only to be refused), and a key that
// would go past the bound types nothing.
class NoteEditor : public QPlainTextEdit {
public:
    explicit NoteEditor(QWidget* parent) : QPlainTextEdit(parent) {}
    std::function<void()> onCut;

protected:
    qsizetype room() const {
        const qsizetype used = document()->characterCount() - 1 - textCursor().selectedText().size();
        return std::max<qsizetype>(0, keys::note.maxChars - used);
    }
    void keyPressEvent(QKeyEvent* event) override {
        const QString typed = event->text();
        if (!typed.isEmpty() && typed.at(0).isPrint() && typed.size() > room()) {
            if (onCut) onCut();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }
    void insertFromMimeData(const QMimeData* source) override {
        if (!source->hasText()) return QPlainTextEdit::insertFromMimeData(source);
        const qsizetype room = this->room();
        QString text = source->text();
        if (text.size() <= room) return QPlainTextEdit::insertFromMimeData(source);
        text.truncate(room);
        QMimeData cut;
        cut.setText(text);
        QPlainTextEdit::insertFromMimeData(&cut);
        if (onCut) onCut();
    }
};
} // namespace

NoteView::NoteView(Clock* clock, QWidget* parent)
    : QWidget(parent), editor_(new NoteEditor(this)), error_(new ElidedLabel(this)),
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
    static_cast<NoteEditor*>(editor_)->onCut = [this] { showTooLong(); };
    connect(&Settings::shared(), &Settings::changed, this, [this](const QString& key) {
        if (key == keys::note && !saving_) load();
    });
    // The file is written on the settings' own thread: these say how that went.
    connect(&Settings::shared(), &Settings::saved, this, [this] {
        if (!awaiting_) return;
        awaiting_ = false;
        unsaved_ = false;
        retry_->stop();
        if (!tooLongShown_) error_->hide();
    });
    connect(&Settings::shared(), &Settings::saveFailed, this, [this](const QString& key) {
        if (key != keys::note) return;
        // Kept on screen and tried again; the log has the reason too.
        awaiting_ = false;
        unsaved_ = true;
        showError();
        retry_->start(kRetrySeconds);
    });
    connect(&L10n::shared(), &L10n::languageChanged, this, &NoteView::retranslate);
    // The settings write what they hold when the app quits; the last words typed go first.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        save();
        Settings::shared().flush();
    });
}

NoteView::~NoteView() { save(); }

void NoteView::retranslate() {
    editor_->setPlaceholderText(L10n::shared().t(QStringLiteral("note.placeholder")));
    // The placeholder reaches no screen reader; the same text names the note.
    editor_->setAccessibleName(editor_->placeholderText());
    if (tooLongShown_) showTooLong();
    else if (!error_->isHidden()) showError();
}

void NoteView::load() {
    // What was typed and not stored yet wins over the stored text; so does what was handed to
    // the settings and did not reach the file (the settings go back to the file's text).
    if (unsaved_ && (!awaiting_ || Settings::shared().lastError())) return;
    const QString stored = Settings::shared().get(keys::note);
    if (stored == editor_->toPlainText()) return;
    const QSignalBlocker block(editor_);
    editor_->setPlainText(stored);
    // Typing goes on after what is written, not before it; from then on the cursor stays where
    // the user leaves it.
    editor_->moveCursor(QTextCursor::End);
}

void NoteView::edited() {
    if (tooLongShown_) {
        tooLongShown_ = false;
        error_->hide();
    }
    // Keys and pastes keep to the bound before they arrive; anything else past it (an input
    // method) loses its tail.
    if (editor_->document()->characterCount() - 1 > keys::note.maxChars) {
        QTextCursor tail(editor_->document());
        tail.setPosition(keys::note.maxChars);
        tail.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        tail.removeSelectedText();
        showTooLong();
        return;
    }
    unsaved_ = true;
    awaiting_ = false;
    pause_->start(kPauseSeconds);
}

void NoteView::save() {
    pause_->stop();
    if (!unsaved_ || awaiting_) return;
    const QString text = editor_->toPlainText();
    saving_ = true;
    const auto refused = Settings::shared().set(keys::note, text);
    saving_ = false;
    // Past the bound: no write can take it, so none is tried again (the editor keeps to the
    // bound itself; this is the last guard).
    if (refused) {
        showTooLong();
        return;
    }
    awaiting_ = true;
}

void NoteView::showTooLong() {
    tooLongShown_ = true;
    error_->setText(L10n::shared().t(QStringLiteral("note.tooLong"), {keys::note.maxChars}));
    error_->setToolTip(QString());
    error_->show();
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
