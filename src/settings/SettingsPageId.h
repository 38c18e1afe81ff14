#pragma once

namespace lomex {

// The pages of the settings window (SettingsView::Page). Declaration order is the sidebar order.
enum class SettingsPageId { general, notch, calendar, places, clipboard, focus, limits, shortcuts, about };

} // namespace lomex
