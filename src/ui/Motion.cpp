#include "ui/Motion.h"
#include <QEasingCurve>
#include <QGraphicsOpacityEffect>
#include <QLayout>
#include <QPainter>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QVariantAnimation>
#include <QWidget>
#include <cmath>
#include <numbers>

namespace lomex::motion {

namespace {

constexpr double kPi = std::numbers::pi;

double angularFrequency(const Spring& s) { return 2 * kPi / s.response; }

// A picture of a widget at an opacity.
class Picture : public QWidget {
public:
    Picture(QPixmap pixmap, QWidget* parent) : QWidget(parent), pixmap_(std::move(pixmap)) {
        setObjectName(QStringLiteral("motion.picture"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setOpacity(double opacity) {
        opacity_ = opacity;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setOpacity(opacity_);
        p.drawPixmap(rect(), pixmap_);
    }

private:
    QPixmap pixmap_;
    double opacity_ = 1;
};

bool gtkAnimationsOff() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    for (const char* version : {"gtk-3.0", "gtk-4.0"}) {
        const QSettings ini(config + QLatin1Char('/') + QLatin1String(version) + QStringLiteral("/settings.ini"),
                            QSettings::IniFormat);
        const QString value = ini.value(QStringLiteral("Settings/gtk-enable-animations")).toString().trimmed();
        if (value == QLatin1String("false") || value == QLatin1String("0")) return true;
    }
    return false;
}

} // namespace

double Spring::position(double t) const {
    if (t <= 0) return 0;
    const double w0 = angularFrequency(*this);
    const double z = dampingFraction;
    if (z < 1) {
        const double wd = w0 * std::sqrt(1 - z * z);
        return 1 - std::exp(-z * w0 * t) * (std::cos(wd * t) + z * w0 / wd * std::sin(wd * t));
    }
    if (z == 1) return 1 - std::exp(-w0 * t) * (1 + w0 * t);
    const double root = std::sqrt(z * z - 1);
    const double r1 = -w0 * (z - root), r2 = -w0 * (z + root);
    return 1 - (r2 * std::exp(r1 * t) - r1 * std::exp(r2 * t)) / (r2 - r1);
}

double Spring::settlingSeconds() const {
    const double w0 = angularFrequency(*this);
    const double z = dampingFraction;
    if (z < 1) // the swing never leaves its envelope e^(-z·w0·t) / sqrt(1 - z²)
        return std::log(1 / (settleTolerance * std::sqrt(1 - z * z))) / (z * w0);
    // Without a swing the approach is monotonic: walk until it is close enough.
    const double step = response / 1000;
    double t = 0;
    while (1 - position(t) > settleTolerance) t += step;
    return t;
}

double Spring::overshoot() const {
    const double z = dampingFraction;
    return z < 1 ? std::exp(-kPi * z / std::sqrt(1 - z * z)) : 0;
}

Timing spring(const Spring& s) {
    const double duration = s.settlingSeconds();
    return {[s, duration](double x) { return x >= 1 ? 1.0 : s.position(x * duration); },
            int(std::lround(duration * 1000))};
}

Timing standard() {
    return {[](double x) { return QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(x); }, 350};
}

namespace {
std::optional<bool> g_desktopReduced; // GUI thread only
} // namespace

void setDesktopReduced(std::optional<bool> reduced) { g_desktopReduced = reduced; }

bool reduced() {
    const QString env = qEnvironmentVariable("LOMEX_REDUCED_MOTION");
    if (!env.isEmpty()) return env != QLatin1String("0");
    if (g_desktopReduced) return *g_desktopReduced;
    return gtkAnimationsOff();
}

QVariantAnimation* run(QObject* owner, const Timing& timing, std::function<void(double)> step,
                       std::function<void()> done) {
    if (reduced() || timing.milliseconds <= 0) {
        step(1);
        if (done) done();
        return nullptr;
    }
    auto* a = new QVariantAnimation(owner);
    a->setObjectName(QStringLiteral("motion"));
    a->setStartValue(0.0);
    a->setEndValue(1.0);
    a->setDuration(timing.milliseconds);
    QObject::connect(a, &QVariantAnimation::valueChanged, a,
                     [step, ease = timing.ease](const QVariant& v) { step(ease(v.toDouble())); });
    QObject::connect(a, &QAbstractAnimation::finished, a, [step, done] {
        step(1);
        if (done) done();
    });
    a->start(QAbstractAnimation::DeleteWhenStopped);
    return a;
}

void fadeOutPicture(QWidget* w, const Timing& timing, QWidget* host, Background background) {
    if (!host) host = w->parentWidget();
    if (reduced() || !host || !w->isVisible() || w->size().isEmpty()) return;
    QPixmap image = w->grab();
    if (background == Background::without) {
        image = QPixmap(w->size() * w->devicePixelRatioF());
        image.setDevicePixelRatio(w->devicePixelRatioF());
        image.fill(Qt::transparent);
        // A widget that fills itself would paint its fill even so: not for this one picture.
        const bool fills = w->autoFillBackground();
        w->setAutoFillBackground(false);
        w->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        w->setAutoFillBackground(fills);
    }
    auto* picture = new Picture(image, host);
    picture->setGeometry(QRect(w->mapTo(host, QPoint(0, 0)), w->size()));
    picture->show();
    picture->raise();
    run(picture, timing, [picture](double p) { picture->setOpacity(1 - p); },
        [picture] {
            picture->hide();
            picture->deleteLater();
        });
}

void fadeIn(QWidget* w, const Timing& timing) {
    if (reduced()) return;
    QPointer<QGraphicsOpacityEffect> effect = new QGraphicsOpacityEffect(w);
    effect->setOpacity(0);
    w->setGraphicsEffect(effect);
    run(w, timing,
        [effect](double p) {
            if (effect) effect->setOpacity(p);
        },
        [w, effect] {
            if (effect && w->graphicsEffect() == effect) w->setGraphicsEffect(nullptr);
        });
}

void slideFrom(QWidget* w, QPoint from, const Timing& timing) {
    const QPoint to = w->pos();
    if (reduced() || from == to) return;
    w->move(from);
    run(w, timing,
        [w, from, to](double p) {
            w->move(from + QPoint(int(std::lround((to.x() - from.x()) * p)), int(std::lround((to.y() - from.y()) * p))));
            if (QWidget* parent = w->parentWidget()) parent->update();
        },
        [w] {
            // A layout pass meanwhile may have placed the widget elsewhere: let it decide.
            if (QWidget* parent = w->parentWidget(); parent && parent->layout()) parent->layout()->invalidate();
        });
}

} // namespace lomex::motion
