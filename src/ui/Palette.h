#pragma once

class QColor;
class QWidget;

namespace parlo {

// The six fixed colours of the soft look, each made once on first use and shared, plus the few
// colours used at single places.
namespace Palette {

const QColor& background(); // window and sheet background, fill of engraved wells
const QColor& surface();    // raised cards and ordinary buttons
const QColor& mint();       // accent: primary buttons, the fallback logo, "ready" marks
const QColor& dark();       // default text and icon colour
const QColor& muted();      // secondary text
const QColor& shade();      // every cast and inner shadow

const QColor& orange();       // warnings and the "not connected" dot (the desktop's standard orange)
const QColor& recordingRed(); // the status dot while recording

// Fills `widget` with the background colour and gives its text the palette's colours: the window
// and the settings sheet are both such backgrounds.
void applyToBackground(QWidget* widget);

} // namespace Palette

} // namespace parlo
