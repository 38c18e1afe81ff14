#include "platform/Screens.h"
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace lomex {

namespace {
Screens* g_override = nullptr;
}

Screens* Screens::current() {
    if (g_override) return g_override;
    static QtScreens* qt = new QtScreens(qApp);
    return qt;
}

void Screens::setCurrent(Screens* screens) { g_override = screens; }

QtScreens::QtScreens(QObject* parent) : Screens(parent) {
    auto* app = qGuiApp;
    if (!app) return;
    for (QScreen* s : QGuiApplication::screens()) watch(s);
    connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* s) {
        watch(s);
        Q_EMIT screensChanged();
    });
    connect(app, &QGuiApplication::screenRemoved, this, [this](QScreen*) { Q_EMIT screensChanged(); });
    connect(app, &QGuiApplication::primaryScreenChanged, this, [this](QScreen*) { Q_EMIT screensChanged(); });
}

void QtScreens::watch(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, [this](const QRect&) { Q_EMIT screensChanged(); });
    // A desktop panel appearing or going away changes the work area.
    connect(screen, &QScreen::availableGeometryChanged, this, [this](const QRect&) { Q_EMIT screensChanged(); });
}

QList<ScreenInfo> QtScreens::screens() const {
    QList<ScreenInfo> out;
    QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* s : QGuiApplication::screens())
        out.append(ScreenInfo{s->name(), s->geometry(), s == primary, false, s->devicePixelRatio(), s->availableGeometry()});
    return out;
}

QPoint QtScreens::cursorPos() const { return QCursor::pos(); }

int chooseScreen(const QString& displayChoice, const QList<ScreenInfo>& screens, QPoint cursor) {
    if (screens.isEmpty()) return -1;
    int primary = 0;
    for (int i = 0; i < screens.size(); ++i)
        if (screens[i].primary) { primary = i; break; }
    if (displayChoice == QLatin1String("main")) return primary;
    if (displayChoice == QLatin1String("mouse")) {
        for (int i = 0; i < screens.size(); ++i)
            if (screens[i].frame.contains(cursor)) return i;
        return primary;
    }
    for (int i = 0; i < screens.size(); ++i)
        if (screens[i].hasNotch) return i;
    return primary;
}

bool hasGraphicalSession() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const QByteArray value = qgetenv(name);
        if (!value.trimmed().isEmpty()) return true;
    }
    return false;
}

} // namespace lomex
