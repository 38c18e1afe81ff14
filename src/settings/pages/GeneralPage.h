#pragma once
#include "settings/SettingsPage.h"

namespace lomex {

// Language, launch at login, live activity and the hover delay.
class GeneralPage : public SettingsPage {
    Q_OBJECT
public:
    explicit GeneralPage(QWidget* parent = nullptr);

    // The stored hover delay for a slider position in seconds: on the 0.05 s grid, 0 to 1.
    static double snapHoverDelay(double seconds);
    // "0.12 s": two decimals with a full stop in every language.
    static QString hoverDelayText(double seconds);
};

} // namespace lomex
