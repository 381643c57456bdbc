#pragma once

#include <QRect>

class QPainter;
class QRectF;
class QWidget;

namespace parlo::Focus {

// Whether `widget` should show the focus ring: it has the focus and the focus came by keyboard,
// so a click never leaves a ring behind.
bool showsRing(const QWidget* widget);

// The ring drawn round a focused control: a rounded outline in the palette's dark colour.
void paintRing(QPainter& painter, const QRectF& rect, qreal radius);

// Repaints `widget` whenever it gains or loses the focus: for widgets that draw the ring round a
// part of themselves (a row, a time) rather than round the whole.
void repaintOnFocusChange(QWidget* widget);

// The row a navigation key leads to among `count` rows from `current` (Up, Down, Home, End), or -1
// when `key` is none of them.
int step(int current, int count, int key);

// Scrolls the nearest scroll area above `widget` so that `rect` (in the widget's coordinates) is seen.
void reveal(QWidget* widget, const QRect& rect);

} // namespace parlo::Focus
