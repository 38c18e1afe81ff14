#pragma once
#include <QPoint>
#include <functional>
#include <optional>

class QObject;
class QVariantAnimation;
class QWidget;

// How the app moves things: a damped spring for the motions that should feel physical, a short
// ease-in-out for the rest, and nothing at all when the user asked the desktop for less motion.
// Every animation of the windows and tabs goes through here, on the GUI thread.
namespace lomex::motion {

// A damped spring pulled from 0 to 1. `response` is the period of the undamped oscillation in
// seconds (stiffness), `dampingFraction` the damping relative to critical: 1 comes to rest
// without overshoot, less swings past 1 and back.
struct Spring {
    double response;
    double dampingFraction;

    // Where the spring is `seconds` after release: the damped-spring equation.
    double position(double seconds) const;
    // How long until it stays within `settleTolerance` of 1.
    double settlingSeconds() const;
    // The furthest it swings past 1 (0 when critically damped or slower).
    double overshoot() const;
};

// The spring counts as at rest once its swing stays below this fraction of the distance.
constexpr double settleTolerance = 0.001;

// The spring of a settings page change, and the one of a list reordering or a view returning.
constexpr Spring pageSpring{0.2, 0.85};
constexpr Spring listSpring{0.5, 0.85};

// One animation's course: the eased progress for the time's fraction (0 to 1), and how long
// it runs. (QEasingCurve has no spring, and its spline type breaks beyond ten segments.)
struct Timing {
    std::function<double(double)> ease;
    int milliseconds;
};

// The spring over its settling time: exactly 0 at the start and 1 at the end.
Timing spring(const Spring& s);
// The default animation: a short ease-in-out.
Timing standard();

// Whether animations are off: LOMEX_REDUCED_MOTION set to anything but "0" or empty; else the
// desktop's wish as last handed in; else GTK's gtk-enable-animations in the settings.ini of
// GTK 3 or 4 under the XDG config folder. Looked up on every call.
bool reduced();
// The desktop's wish for less motion, once known (the app hands in what the desktop portal
// says); nothing falls back to GTK's settings file.
void setDesktopReduced(std::optional<bool> reduced);

// Runs `step` with the eased progress (0 to 1) on every frame, ending with step(1), then
// `done`. The animation is a child of `owner`, named "motion", and stops with it. With reduced
// motion it only calls step(1) and done, at once, and returns nullptr.
QVariantAnimation* run(QObject* owner, const Timing& timing, std::function<void(double)> step,
                       std::function<void()> done = {});

// Lays a picture of `w` as it looks now over its place in `w`'s parent (or `host`, when given)
// and fades it out; the picture goes away at the end and never takes clicks. Without its own
// background the picture holds only what `w`'s children draw, so whatever the parent paints
// behind them stays steady. Does nothing with reduced motion or when `w` is not shown.
enum class Background { with, without };
void fadeOutPicture(QWidget* w, const Timing& timing, QWidget* host = nullptr, Background background = Background::with);
// Fades `w` in from transparent.
void fadeIn(QWidget* w, const Timing& timing);
// Moves `w` from `from` (in its parent) to where it is now.
void slideFrom(QWidget* w, QPoint from, const Timing& timing);

} // namespace lomex::motion
