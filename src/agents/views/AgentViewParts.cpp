#include "agents/views/AgentViewParts.h"
#include "agents/TextCut.h"
#include "ui/Accessibility.h"
#include "ui/Theme.h"
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace lomex::agentviews {

namespace {

constexpr int kTextWidth = 560;
// Far more than the width can show; outside text may be megabytes long, and laying it all out
// to elide it would stall the notch on every rebuild.
constexpr int kMaxLabelCharacters = 400;

} // namespace

void setLabelColor(QLabel* label, const QColor& color)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
}

void setPlainText(QLabel* label, const QString& text)
{
    QString shown = textcut::leftGraphemes(text, kMaxLabelCharacters);
    shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
    label->setText(QFontMetrics(label->font()).elidedText(shown, Qt::ElideRight, kTextWidth));
}

QLabel* plainLabel(const QString& text, int pixelSize, const QColor& color, bool bold, QWidget* parent,
                   QLabel* label)
{
    if (!label) label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    QFont f = label->font();
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    label->setFont(f);
    setLabelColor(label, color);
    setPlainText(label, text);
    return label;
}

QPushButton* button(const QString& text, const QString& name, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setCursor(Qt::PointingHandCursor);
    b->setFlat(true);
    // Reached by Tab; a click leaves no ring behind.
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

QString cardStyleSheet()
{
    const QString ring = a11y::notchFocusRing().name();
    return QStringLiteral(
               " #agentRow { background: rgba(255,255,255,14); border-radius: 10px; }"
               " #approvalCard { background: rgba(245,165,36,40); border: 1px solid rgba(245,165,36,120); border-radius: 12px; }"
               " #approvalCommand { background: rgba(0,0,0,90); color: white; border-radius: 6px; padding: 6px 8px; }"
               " #approvalCommand:focus { border: 2px solid %1; }"
               " #approvalCard QPushButton { color: white; background: rgba(255,255,255,30);"
               " border-radius: 7px; padding: 4px 12px; font-weight: 600; }"
               " #approvalCard QPushButton:hover { background: rgba(255,255,255,55); }"
               " #approvalCard QPushButton:focus { border: 2px solid %1; padding: 2px 10px; }"
               " #approvalCard QPushButton#approvalAllow { color: %2; }"
               " #approvalCard QPushButton#approvalDeny { color: %3; }")
        .arg(ring, Theme::success().name(), Theme::danger().name());
}

QPixmap dot(const QColor& color, int size, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(0, 0, size, size));
    return pixmap;
}

} // namespace lomex::agentviews
