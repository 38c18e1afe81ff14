#pragma once
#include <QColor>

namespace lomex {

// The shared accent colours, opaque sRGB. Built once on first use; safe from any thread.
namespace Theme {
QColor claude();  // Claude sessions
QColor amber();   // waiting for the user
QColor success(); // a finished turn
QColor violet();  // compacting
QColor danger();  // errors
QColor codex();   // Codex sessions
QColor cursor();  // Cursor sessions
} // namespace Theme

} // namespace lomex
