#include "agents/views/ChatView.h"
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QRegularExpression>
#include <QUrl>
#include <cmath>

namespace lomex {

namespace {

// Inline Markdown to label markup. Anything that is not a complete inline construct stays
// literal text; nothing of the input reaches the output unescaped.
class Inline {
public:
    explicit Inline(const QString& s) : s_(s) {}

    QString render(qsizetype from, qsizetype to, bool links) const
    {
        QString out;
        qsizetype i = from;
        while (i < to) {
            const QChar c = s_[i];
            if (c == u'\\' && i + 1 < to && s_[i + 1].isPunct()) {
                out += escaped(s_[i + 1]);
                i += 2;
                continue;
            }
            if (c == u'`') {
                const qsizetype run = runOf(i, to, u'`');
                const qsizetype close = findRun(i + run, to, u'`', run);
                if (close >= 0) {
                    out += QStringLiteral("<code>") + escaped(s_.mid(i + run, close - i - run))
                        + QStringLiteral("</code>");
                    i = close + run;
                    continue;
                }
                out += escaped(s_.mid(i, run));
                i += run;
                continue;
            }
            if (c == u'*' || c == u'_' || c == u'~') {
                if (qsizetype next = emphasis(i, to, links, &out); next > i) {
                    i = next;
                    continue;
                }
            }
            if (links && c == u'[') {
                if (qsizetype next = link(i, to, &out); next > i) {
                    i = next;
                    continue;
                }
            }
            if (links && c == u'<') {
                const qsizetype close = s_.indexOf(u'>', i + 1);
                if (close > 0 && close < to) {
                    const QString target = s_.mid(i + 1, close - i - 1);
                    if (safeLink(target)) {
                        out += anchor(target, escaped(target));
                        i = close + 1;
                        continue;
                    }
                }
            }
            out += escaped(c);
            ++i;
        }
        return out;
    }

    static QString escaped(const QString& t) { return t.toHtmlEscaped(); }
    static QString escaped(QChar c) { return QString(c).toHtmlEscaped(); }

private:
    qsizetype runOf(qsizetype i, qsizetype to, QChar c) const
    {
        qsizetype n = 0;
        while (i + n < to && s_[i + n] == c)
            ++n;
        return n;
    }

    // The start of the next run of exactly n characters c, or -1.
    qsizetype findRun(qsizetype from, qsizetype to, QChar c, qsizetype n) const
    {
        for (qsizetype i = from; i < to;) {
            if (s_[i] != c) {
                ++i;
                continue;
            }
            const qsizetype run = runOf(i, to, c);
            if (run == n)
                return i;
            i += run;
        }
        return -1;
    }

    // "**strong**", "__strong__", "*em*", "_em_", "~~strike~~": the opener is followed and the
    // closer preceded by a non-blank; "_" does not open inside a word.
    qsizetype emphasis(qsizetype i, qsizetype to, bool links, QString* out) const
    {
        const QChar c = s_[i];
        const qsizetype run = runOf(i, to, c);
        qsizetype n = c == u'~' ? 2 : std::min<qsizetype>(run, 2);
        if (c == u'~' && run != 2)
            return i;
        if (c == u'_' && i > 0 && s_[i - 1].isLetterOrNumber())
            return i;
        const qsizetype start = i + n;
        if (start >= to || s_[start].isSpace())
            return i;
        for (qsizetype j = start + 1; j + n <= to; ++j) {
            bool closes = true;
            for (qsizetype k = 0; k < n; ++k)
                closes = closes && s_[j + k] == c;
            if (!closes || s_[j - 1].isSpace())
                continue;
            if (c == u'_' && j + n < to && s_[j + n].isLetterOrNumber())
                continue;
            const char* tag = c == u'~' ? "s" : n == 2 ? "b" : "i";
            *out += QStringLiteral("<%1>").arg(QLatin1String(tag)) + render(start, j, links)
                + QStringLiteral("</%1>").arg(QLatin1String(tag));
            return j + n;
        }
        return i;
    }

    // "[label](url)" with a safe url; the label is rendered without links.
    qsizetype link(qsizetype i, qsizetype to, QString* out) const
    {
        const qsizetype closeLabel = s_.indexOf(u']', i + 1);
        if (closeLabel < 0 || closeLabel + 1 >= to || s_[closeLabel + 1] != u'(')
            return i;
        const qsizetype closeUrl = s_.indexOf(u')', closeLabel + 2);
        if (closeUrl < 0 || closeUrl >= to)
            return i;
        const QString target = s_.mid(closeLabel + 2, closeUrl - closeLabel - 2).trimmed();
        if (!safeLink(target))
            return i;
        *out += anchor(target, render(i + 1, closeLabel, false));
        return closeUrl + 1;
    }

    static bool safeLink(const QString& target)
    {
        if (target.isEmpty() || target.contains(QRegularExpression(QStringLiteral("\\s"))))
            return false;
        const QUrl url(target, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        return url.isValid()
            && (scheme == u"http" || scheme == u"https" || scheme == u"mailto")
            && (scheme == u"mailto" || !url.host().isEmpty());
    }

    static QString anchor(const QString& target, const QString& labelMarkup)
    {
        return QStringLiteral("<a style=\"color:#8ab4ff\" href=\"%1\">%2</a>")
            .arg(QUrl(target, QUrl::StrictMode).toString(QUrl::FullyEncoded).toHtmlEscaped(), labelMarkup);
    }

    const QString& s_;
};

// Rich text is shaped and laid out anew for every height a layout asks about, and the scroll
// area asks about several widths on every change; a bubble's text never changes, so the answers
// are kept (a few widths: the panel's width is fixed).
class BubbleLabel : public QLabel {
public:
    using QLabel::QLabel;
    // The text's width on unwrapped lines; set once with the text.
    int idealWidth = 0;

    // QLabel's own hints for wrapped rich text lay the text out at guessed widths on every
    // layout pass; the layout asks heightForWidth for the height anyway.
    QSize sizeHint() const override
    {
        const int w = std::max(40, std::min(idealWidth, 520));
        // The height is what heightForWidth gives at the width the layout hands out; laying
        // the text out at a guessed width here would cost a whole shaping pass for nothing.
        if (auto it = heights_.constFind(width()); it != heights_.constEnd()) return {w, *it};
        return {w, fontMetrics().height()};
    }
    QSize minimumSizeHint() const override { return {40, fontMetrics().height()}; }

    int heightForWidth(int width) const override
    {
        if (auto it = heights_.constFind(width); it != heights_.constEnd())
            return *it;
        if (heights_.size() >= 32)
            heights_.clear();
        const int h = QLabel::heightForWidth(width);
        heights_.insert(width, h);
        return h;
    }

private:
    mutable QHash<int, int> heights_;
};

} // namespace

QString ChatBubble::attributed(const QString& text)
{
    return QStringLiteral("<span style=\"white-space:pre-wrap\">") + Inline(text).render(0, text.size(), true)
        + QStringLiteral("</span>");
}

ChatBubble::ChatBubble(const ChatMessage& message, QWidget* parent) : QFrame(parent), message_(message)
{
    const bool user = message.role == ChatMessage::Role::user;
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* label = new BubbleLabel(this);
    label_ = label;
    label_->setTextFormat(Qt::RichText);
    label_->setWordWrap(true);
    label_->setOpenExternalLinks(true);
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    QFont f = label_->font();
    f.setPixelSize(12);
    label_->setFont(f);
    label_->setText(attributed(message.text));
    // Measured on the plain text: cheap, and close enough for how wide a bubble should be.
    int widest = 0;
    const QFontMetrics fm(f);
    for (const QString& line : message.text.split(QLatin1Char('\n')))
        widest = std::max(widest, fm.horizontalAdvance(line));
    label->idealWidth = widest + 8;
    label_->setObjectName(QStringLiteral("bubbleText"));
    if (user) {
        label_->setStyleSheet(QStringLiteral("#bubbleText { color: rgba(255,255,255,235);"
                                             " background: rgba(255,255,255,26); border-radius: 14px;"
                                             " padding: 7px 11px; }"));
        idealWidth_ = label->idealWidth + 2 * 11 + 2;
        row->addSpacing(60);
        row->addStretch(1);
        row->addWidget(label_, 0, Qt::AlignVCenter);
    } else {
        label_->setStyleSheet(QStringLiteral("#bubbleText { color: rgba(255,255,255,209); padding: 0px 2px; }"));
        row->addWidget(label_, 1, Qt::AlignVCenter);
        row->addSpacing(20);
    }
}

QSize ChatBubble::sizeHint() const
{
    // QWidget's own hint lays the text out at the hint's width; the list asks heightForWidth
    // at the width it hands out anyway.
    QSize s = layout()->sizeHint();
    s.setHeight(heightForWidth(width()));
    return s;
}

void ChatBubble::setWidth(int width)
{
    resize(width, height());
    fitLabel();
}

void ChatBubble::fitLabel()
{
    // A user bubble is as wide as its text, up to the row less the 60-point lead.
    if (idealWidth_ > 0) label_->setFixedWidth(std::max(40, std::min(idealWidth_, width() - 60)));
}

void ChatBubble::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    fitLabel();
}

} // namespace lomex
