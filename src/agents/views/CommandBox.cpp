#include "agents/views/CommandBox.h"
#include "agents/TextCut.h"
#include "core/L10n.h"
#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QMimeData>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>
#include <cmath>

namespace lomex {

namespace {

bool hasLongRun(const QString& text, qsizetype limit)
{
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > limit) return true;
    }
    return false;
}

} // namespace

CommandBox::CommandBox(const QString& command, QWidget* parent) : QPlainTextEdit(parent), command_(command)
{
    setObjectName(QStringLiteral("approvalCommand"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setFrameShape(QFrame::NoFrame);
    setWordWrapMode(hasLongRun(command, longRun) ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAccessibleName(L10n::shared().t(QStringLiteral("agents.command")));
    const QFont f = commandFont();
    setFont(f);
    // The inset is the frame's padding: a document margin would show a strip of the line
    // below the box's last one.
    document()->setDocumentMargin(0);
    QString first = textcut::leftUnits(command, layOutAtOnce);
    // A "\r\n" is one line break: never half of it in the box.
    if (first.size() < command.size() && first.endsWith(QLatin1Char('\r')) && command.at(first.size()) == QLatin1Char('\n'))
        first.chop(1);
    setPlainText(first);
    held_ = first.size();
    // The rest comes with the first scroll away from the top, whatever scrolls (wheel, keys,
    // the bar).
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value > 0 && !isComplete()) holdRest();
    });
    // Until its width is known: the lines as written, up to the box.
    const int linesAsWritten = isComplete() ? int(command.count(QLatin1Char('\n'))) + 1 : maxLines;
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

void CommandBox::resizeEvent(QResizeEvent* event)
{
    // Also the viewport's: its width is what the lines wrap at, and so the box's height.
    QPlainTextEdit::resizeEvent(event);
    if (event->oldSize().width() != event->size().width()) fit();
}

QMimeData* CommandBox::createMimeDataFromSelection() const
{
    // Always the command's own characters (the document would turn a no-break space into a
    // blank); a selection that reaches the end of what the box holds takes the rest with it,
    // so select-all copies the whole command before it was scrolled to.
    const QTextCursor cursor = textCursor();
    const qsizetype start = commandIndex(cursor.selectionStart());
    qsizetype end = commandIndex(cursor.selectionEnd());
    if (end == held_) end = command_.size();
    auto* data = new QMimeData;
    data->setText(command_.mid(start, end - start));
    return data;
}

qsizetype CommandBox::commandIndex(int position) const
{
    // One to one, but for a "\r\n", which the document makes one line break.
    qsizetype i = 0;
    for (int p = 0; p < position && i < held_; ++p)
        i += command_.at(i) == QLatin1Char('\r') && i + 1 < held_ && command_.at(i + 1) == QLatin1Char('\n') ? 2 : 1;
    return i;
}

void CommandBox::holdRest()
{
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(command_.mid(held_));
    held_ = command_.size();
    fit();
}

void CommandBox::fit()
{
    // The lines as laid out at the box's width; the box shows up to six of them, whole.
    QTextDocument* doc = document();
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    int lines = 0;
    qreal lineHeight = 0;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        if (b.layout()->lineCount() == 0) layout->blockBoundingRect(b); // lays the block out
        lines += std::max(1, b.layout()->lineCount());
        if (lineHeight <= 0 && b.layout()->lineCount() > 0) lineHeight = b.layout()->lineAt(0).height();
    }
    // The first part must fill the box and then some, or there is nothing to scroll to the rest
    // with (a first part of combining marks).
    if (!isComplete() && lines <= maxLines) return holdRest();
    if (lineHeight <= 0) lineHeight = QFontMetricsF(font()).lineSpacing();
    const int shown = std::clamp(lines, 1, maxLines);
    // One pixel row more than the lines: the edit counts a line as shown only below that.
    const int chrome = height() - viewport()->height();
    setFixedHeight(int(std::ceil(shown * lineHeight)) + 1 + chrome);
    if (onLinesCounted) onLinesCounted(lines, isComplete());
}

} // namespace lomex
