#include "ui/Theme.h"

namespace lomex::Theme {

// Function-local statics are initialised once, thread-safely.
#define LOMEX_THEME_COLOUR(name, r, g, b)                              \
    QColor name()                                                      \
    {                                                                  \
        static const QColor colour = QColor::fromRgbF(r, g, b, 1.0);   \
        return colour;                                                 \
    }

LOMEX_THEME_COLOUR(claude, 0.851f, 0.467f, 0.341f)
LOMEX_THEME_COLOUR(amber, 0.961f, 0.647f, 0.141f)
LOMEX_THEME_COLOUR(success, 0.29f, 0.871f, 0.502f)
LOMEX_THEME_COLOUR(violet, 0.655f, 0.545f, 0.98f)
LOMEX_THEME_COLOUR(danger, 0.973f, 0.443f, 0.443f)
LOMEX_THEME_COLOUR(codex, 0.502f, 0.667f, 1.0f)
LOMEX_THEME_COLOUR(cursor, 0.82f, 0.84f, 0.88f)

#undef LOMEX_THEME_COLOUR

} // namespace lomex::Theme
