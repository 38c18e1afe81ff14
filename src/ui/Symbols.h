#pragma once
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace lomex::symbols {

// The app names its icons by the symbol names of its design ("gearshape", "bolt.fill", ...).
// Each maps to a bundled SVG; an unknown name gives a fallback glyph, never an empty image.
bool hasSymbol(const QString& name);        // true when a bundled file backs the name
QString resourcePath(const QString& name);  // ":/symbols/....svg", or empty when unknown
// The symbol drawn in one colour at the given logical size (device pixel ratio honoured).
QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio = 1.0);
QIcon icon(const QString& name, const QColor& color = Qt::white);
QStringList knownNames();
// The application's own icon (the installed desktop entry names the same picture), in colour.
QIcon appIcon();

} // namespace lomex::symbols
