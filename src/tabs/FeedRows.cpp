#include "tabs/FeedRows.h"
#include "calendar/Calendar.h"
#include "calendar/DateText.h"
#include "core/L10n.h"
#include "platform/Workspace.h"
#include "ui/ElidedLabel.h"
#include "ui/Symbols.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

namespace lomex {

namespace notchcolor {
QColor grey() { return QColor(255, 255, 255, 140); }
QColor orange() { return QColor(255, 159, 10); }
QColor red() { return QColor(255, 69, 58); }
QColor yellow() { return QColor(255, 214, 10); }
QColor green() { return QColor(48, 209, 88); }
} // namespace notchcolor

QString plainToolTip(const QString& text) {
    if (text.isEmpty()) return {};
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

namespace {

const char* localeOf(const L10n& l) { return l.isCzech() ? "cs_CZ" : "en_US"; }

} // namespace

namespace {

QLabel* styled(QLabel* label, const char* name, const QString& text, double px, const QColor& color,
               QFont::Weight weight) {
    label->setText(text);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    QFont f = label->font();
    f.setPixelSize(qMax(1, int(std::lround(px))));
    f.setWeight(weight);
    label->setFont(f);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    return label;
}

} // namespace

QLabel* notchLabel(QWidget* parent, const char* name, const QString& text, double px, const QColor& color,
                   QFont::Weight weight) {
    return styled(new QLabel(parent), name, text, px, color, weight);
}

QLabel* notchLineLabel(QWidget* parent, const char* name, const QString& text, double px, const QColor& color,
                       QFont::Weight weight) {
    return styled(new ElidedLabel(parent), name, text, px, color, weight);
}

namespace {

// The coloured line badge: bold line name on a rounded rectangle of the line's colour.
class LineBadge : public QWidget {
public:
    LineBadge(QString line, QColor fill, QColor text, QWidget* parent)
        : QWidget(parent), line_(std::move(line)), fill_(std::move(fill)), text_(std::move(text)) {
        setObjectName(QStringLiteral("badge"));
        font_ = font();
        font_.setPixelSize(12);
        font_.setBold(true);
        const QFontMetrics fm(font_);
        const int inner = qMax(30, fm.horizontalAdvance(line_));
        setFixedSize(qMin(inner, 90) + 8, fm.height() + 6);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(fill_);
        p.drawRoundedRect(QRectF(rect()), 5, 5);
        p.setPen(text_);
        p.setFont(font_);
        p.drawText(rect().adjusted(4, 0, -4, 0), Qt::AlignCenter,
                   QFontMetrics(font_).elidedText(line_, Qt::ElideRight, width() - 8));
    }

private:
    QString line_;
    QColor fill_, text_;
    QFont font_;
};

} // namespace

// ---- DepartureRow ----

int DepartureRow::minutesUntil(const QDateTime& now, const QDateTime& time) {
    return int(std::floor(double(now.msecsTo(time)) / 60000.0));
}

QColor DepartureRow::timeLeftColor(int minutes) { return minutes > 2 ? QColor(Qt::white) : notchcolor::orange(); }

QString DepartureRow::timeLeftText(const TransitService::Departure& d, const QDateTime& now, const L10n& l,
                                   const Calendar& calendar) {
    if (d.cancelled) return l.t(QStringLiteral("pid.cancelled"));
    const int minutes = minutesUntil(now, d.time);
    if (minutes <= 0) return l.t(QStringLiteral("meeting.now"));
    if (minutes < 60) return l.t(QStringLiteral("meeting.inMin"), {minutes});
    return datetext::withSkeleton(d.time, QStringLiteral("jm"), localeOf(l), calendar);
}

DepartureRow::DepartureRow(const TransitService::Departure& departure, const QDateTime& now, QWidget* parent)
    : QWidget(parent), d_(departure) {
    const L10n& l = L10n::shared();
    const Calendar calendar = Calendar::current();
    const char* locale = localeOf(l);
    const int minutes = minutesUntil(now, d_.time);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(new LineBadge(d_.line, d_.color(), d_.textColor(), this));

    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    auto* headsign = notchLineLabel(this, "headsign", d_.headsign, 12, Qt::white, QFont::Medium);
    headsign->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(headsign);

    auto* detail = new QHBoxLayout;
    detail->setSpacing(4);
    const QColor grey = notchcolor::grey();
    if (!calendar.isSameDay(d_.time, now))
        detail->addWidget(notchLabel(this, "weekday", datetext::withSkeleton(d_.time, QStringLiteral("EEE"), locale, calendar),
                                    9.5, grey));
    detail->addWidget(notchLabel(this, "time", datetext::withSkeleton(d_.time, QStringLiteral("jm"), locale, calendar), 9.5, grey));
    if (d_.realTime) {
        auto* live = new QLabel(this);
        live->setObjectName(QStringLiteral("live"));
        live->setPixmap(symbols::pixmap(QStringLiteral("dot.radiowaves.left.and.right"), 10, notchcolor::green(),
                                        devicePixelRatioF()));
        live->setToolTip(l.t(QStringLiteral("pid.live")));
        detail->addWidget(live);
    }
    if (d_.platform && !d_.platform->isEmpty())
        detail->addWidget(notchLabel(this, "platform",
                                    QStringLiteral("\u00B7 ") + l.t(QStringLiteral("pid.platform")) + u' ' + *d_.platform,
                                    9.5, grey));
    if (d_.delayMinutes && *d_.delayMinutes >= 1)
        detail->addWidget(notchLabel(this, "delay", QStringLiteral("+%1 min").arg(*d_.delayMinutes), 9.5, notchcolor::red()));
    detail->addStretch(1);
    column->addLayout(detail);
    row->addLayout(column, 1);
    row->addSpacing(4);

    auto* left = notchLabel(this, "left", timeLeftText(d_, now, l, calendar), 12, timeLeftColor(minutes), QFont::DemiBold);
    // DejaVu's digits are all one width, so the minutes do not jiggle as they count down.
    left->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(left);
}

QLabel* DepartureRow::label(const char* name) const { return findChild<QLabel*>(QLatin1String(name)); }

// ---- WarningLine ----

QColor WarningLine::levelColor(int level) {
    if (level >= 4) return notchcolor::red();
    if (level == 3) return notchcolor::orange();
    return notchcolor::yellow();
}

QString WarningLine::tooltipText(const WeatherService::Warning& w) {
    QStringList parts;
    for (const QString& s : {w.area, w.description, w.instruction})
        if (!s.isEmpty()) parts << s;
    return parts.join(QStringLiteral("\n\n"));
}

QUrl WarningLine::warningsPage() { return QUrl(QStringLiteral("https://www.chmi.cz/vystrahy")); }

WarningLine::WarningLine(const WeatherService::Warning& warning, int more, QWidget* parent) : QWidget(parent) {
    const L10n& l = L10n::shared();
    const QColor colour = levelColor(warning.level);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    auto* icon = new QLabel(this);
    icon->setPixmap(symbols::pixmap(QStringLiteral("exclamationmark.triangle.fill"), 11, colour, devicePixelRatioF()));
    row->addWidget(icon);
    auto* event = notchLineLabel(this, "event", warning.event, 11, colour);
    // The name keeps its natural width and gives way only when the line is full; the spare
    // width goes after the last part, so "until …" and "+N" follow the name.
    event->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    event->setMinimumWidth(qMin(event->sizeHint().width(), 40));
    row->addWidget(event);
    if (warning.expires) {
        const QString end = datetext::withSkeleton(*warning.expires, QStringLiteral("EEEj"), localeOf(l), Calendar::current());
        row->addWidget(notchLabel(this, "until", l.t(QStringLiteral("chmi.until"), {end}), 11, notchcolor::grey()));
    }
    if (more >= 1) row->addWidget(notchLabel(this, "more", QStringLiteral("+%1").arg(more), 11, notchcolor::grey()));
    row->addStretch(1);
    setToolTip(plainToolTip(tooltipText(warning)));
    setCursor(Qt::PointingHandCursor);
}

QLabel* WarningLine::label(const char* name) const { return findChild<QLabel*>(QLatin1String(name)); }

void WarningLine::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Workspace::current()->open(warningsPage());
    QWidget::mouseReleaseEvent(event);
}

} // namespace lomex
