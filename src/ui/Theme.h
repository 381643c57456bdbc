#pragma once

#include <QtGlobal>
#include <qnamespace.h>

class QAbstractScrollArea;
class QColor;
class QFont;
class QLabel;
class QPixmap;
class QString;
class QWidget;

namespace parlo::Theme {

// Registers the bundled fonts and resources and makes DejaVu Sans the application font, so every
// machine renders alike whatever faces it has installed. Idempotent; call before building views.
void load();

// The plain face (DejaVu Sans) and the rounded face (Comfortaa) at a size in logical pixels.
// Weights are QFont::Weight values; letter spacing is in pixels.
QFont font(qreal size, int weight = 400, qreal letterSpacing = 0);
QFont rounded(qreal size, int weight = 400, qreal letterSpacing = 0);
// The monospaced face (DejaVu Sans Mono) for clocks that must not jitter as their digits change.
QFont mono(qreal size, int weight = 400);

// A colour at a further opacity (0-1), keeping its own alpha.
QColor faded(const QColor& colour, qreal opacity);

// A symbol from the bundled SVG icons, `size` logical pixels square, in one colour. The artwork is
// drawn in black on transparent with white cut-outs; black becomes `colour`, white becomes clear.
// Cached per name, size, colour and pixel ratio. An unknown name gives a transparent pixmap.
QPixmap icon(const QString& name, int size, const QColor& colour, qreal devicePixelRatio = 1.0);
bool hasIcon(const QString& name);

// Thin scroll bars in the palette's colours, without arrow buttons, for both bars of `area`.
void thinScrollBars(QAbstractScrollArea* area);

// A label in the given font and colour. Wrapping labels grow vertically, never truncate.
QLabel* label(const QString& text, const QFont& font, const QColor& colour, QWidget* parent = nullptr,
              bool wrap = false);
// A wrapping label whose lines are `lineSpacing` pixels further apart than the font's own.
QLabel* paragraph(const QString& text, const QFont& font, const QColor& colour, qreal lineSpacing,
                  QWidget* parent = nullptr, Qt::Alignment alignment = Qt::AlignLeft);
// Updates the text of a label made by paragraph().
void setParagraphText(QLabel* label, const QString& text, qreal lineSpacing);

} // namespace parlo::Theme
