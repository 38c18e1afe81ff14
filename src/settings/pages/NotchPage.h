#pragma once
#include "settings/SettingsPage.h"

namespace lomex {

class Card;
class NotchModel;

// Hover switching, notices, the display, the pill, and the order and visibility of the tabs.
class NotchPage : public SettingsPage {
    Q_OBJECT
public:
    explicit NotchPage(NotchModel* model, QWidget* parent = nullptr);

    // Swaps the tab at `index` with its neighbour `step` (-1 up, +1 down) away; a target
    // outside the list does nothing.
    void move(int index, int step);

private:
    void rebuildTabs();
    NotchModel* model_;
    Card* tabs_ = nullptr;
};

} // namespace lomex
