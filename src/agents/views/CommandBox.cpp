#include "agents/views/CommandBox.h"
#include "core/L10n.h"
#include "ui/Accessibility.h"
#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QResizeEvent>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace lomex {

CommandBox::CommandBox(const QString& command, QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("approvalCommand"));
    setReadOnly(true);
    setFrameShape(QFrame::NoFrame);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setStyleSheet(QStringLiteral("#approvalCommand { background: rgba(0,0,0,90); color: white;"
                                 " border-radius: 6px; padding: 6px 8px; }"
                                 " #approvalCommand:focus { border: 2px solid %1; }")
                      .arg(a11y::notchFocusRing().name()));
    setAccessibleName(L10n::shared().t(QStringLiteral("agents.command")));
    const QFont f = commandFont();
    setFont(f);
    // The inset is the frame's padding: a document margin would show a strip of the line
    // below the box's last one.
    document()->setDocumentMargin(0);
    int linesAsWritten = maxLines;
    if (command.size() > layOutAtOnce) {
        // Laid out once the card has its width. It cannot fit the box, so its scroll bar is there
        // from the start and the width it is laid out at stays.
        pending_ = command;
        filled_ = false;
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // A timer, not a posted call: posted events run in the same pass as the card's layout
        // and first paint, a timer after them.
        fillTimer_ = new QTimer(this);
        fillTimer_->setSingleShot(true);
        fillTimer_->setInterval(0);
        QObject::connect(fillTimer_, &QTimer::timeout, this, [this] { fill(); });
    } else {
        linesAsWritten = int(command.count(QLatin1Char('\n'))) + 1;
        setPlainText(command);
    }
    // Until its width is known: the lines as written, up to the box.
    setFixedHeight(QFontMetrics(f).lineSpacing() * std::clamp(linesAsWritten, 1, maxLines) + 13);
}

QFont CommandBox::commandFont()
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPixelSize(12);
    // A command is read, not typeset: scripts that need shaping still get it, the rest is drawn
    // glyph by glyph, which makes laying out a long command several times cheaper.
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

void CommandBox::showEvent(QShowEvent* event)
{
    QPlainTextEdit::showEvent(event);
    if (!filled_) fillTimer_->start();
}

void CommandBox::resizeEvent(QResizeEvent* event)
{
    // Also the viewport's: its width is what the lines wrap at, and so the box's height.
    QPlainTextEdit::resizeEvent(event);
    if (event->oldSize().width() != event->size().width()) fit();
}

void CommandBox::fill()
{
    if (filled_ || !isVisible()) return; // shown again later: the timer starts again
    setPlainText(pending_);
    pending_ = QString();
    filled_ = true;
    fit();
    if (onFilled) onFilled();
}

void CommandBox::fit()
{
    // The lines as laid out at the box's width; the box shows up to six of them, whole.
    if (!filled_) return;
    QTextDocument* doc = document();
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    int lines = 0;
    qreal lineHeight = 0;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        if (b.layout()->lineCount() == 0) layout->blockBoundingRect(b); // lays the block out
        lines += std::max(1, b.layout()->lineCount());
        if (lineHeight <= 0 && b.layout()->lineCount() > 0) lineHeight = b.layout()->lineAt(0).height();
    }
    if (lineHeight <= 0) lineHeight = QFontMetricsF(font()).lineSpacing();
    const int shown = std::clamp(lines, 1, maxLines);
    // One pixel row more than the lines: the edit counts a line as shown only below that.
    const int chrome = height() - viewport()->height();
    setFixedHeight(int(std::ceil(shown * lineHeight)) + 1 + chrome);
    if (onLinesCounted) onLinesCounted(lines);
}

} // namespace lomex
