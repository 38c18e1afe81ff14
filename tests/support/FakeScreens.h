#pragma once
#include "platform/Screens.h"

namespace lomex {

class FakeScreens : public Screens {
    Q_OBJECT
public:
    using Screens::Screens;
    QList<ScreenInfo> screens() const override { return list_; }
    QPoint cursorPos() const override { return cursor_; }
    void setScreens(QList<ScreenInfo> list) { list_ = std::move(list); Q_EMIT screensChanged(); }
    void setCursorPos(QPoint p) { cursor_ = p; }

private:
    QList<ScreenInfo> list_;
    QPoint cursor_;
};

} // namespace lomex
