#pragma once
#include "settings/SettingsPage.h"

namespace lomex {

struct Services;

// Lengths of the focus and break phases of the focus timer.
class FocusPage : public SettingsPage {
    Q_OBJECT
public:
    explicit FocusPage(QWidget* parent = nullptr);
};

// The key bindings: the global hot keys switch and the list of keys.
class ShortcutsPage : public SettingsPage {
    Q_OBJECT
public:
    explicit ShortcutsPage(const Services& services, QWidget* parent = nullptr);
};

} // namespace lomex
