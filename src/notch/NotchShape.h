#pragma once
#include <QPainterPath>
#include <QRect>
#include <QRegion>

namespace lomex {

class NotchModel;

// The black outline of the notch in panel coordinates. The panel is as wide as the open notch
// and hangs from the top edge of the screen, so both shapes are centred on its middle.
namespace notchshape {

constexpr int kClosedRadius = 10;  // lower corners of the closed pill
constexpr int kOpenRadius = 24;    // lower corners of the open panel

QRect collapsedRect(const NotchModel& model);
QRect expandedRect(const NotchModel& model);
// The current shape: expanded while open, collapsed otherwise.
QRect currentRect(const NotchModel& model);
// A rectangle with square upper and rounded lower corners.
QPainterPath outline(const QRectF& rect, qreal bottomRadius);
// The same outline as a pixel region (window masks: where input and drawing happen).
QRegion region(const QRect& rect, int bottomRadius);

} // namespace notchshape
} // namespace lomex
