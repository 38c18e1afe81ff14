#pragma once
#include <QObject>
#include <QPoint>
#include <memory>

namespace lomex {

// Presses of a pointer button anywhere on the desktop, also over other programs' windows
// (what closes the open notch on a click outside it). On X11 the RECORD extension reports
// them without grabbing the pointer; elsewhere none are seen.
class PointerClicks : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    static std::unique_ptr<PointerClicks> create(QObject* parent = nullptr);
    // Starts watching; false when this display cannot report outside presses.
    virtual bool start() = 0;
    virtual bool isWatching() const = 0;

Q_SIGNALS:
    // Global position in logical pixels.
    void pressed(QPoint global);
};

} // namespace lomex
