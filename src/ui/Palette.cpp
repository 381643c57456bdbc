#include "ui/Palette.h"

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace parlo::Palette {

namespace {
QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
}
} // namespace

const QColor& background() {
    static const QColor colour = rgb(0.902, 0.899, 0.868);
    return colour;
}
const QColor& surface() {
    static const QColor colour = rgb(0.949, 0.945, 0.916);
    return colour;
}
const QColor& mint() {
    static const QColor colour = rgb(0.686, 0.863, 0.78);
    return colour;
}
const QColor& dark() {
    static const QColor colour = rgb(0.216, 0.247, 0.224);
    return colour;
}
const QColor& muted() {
    static const QColor colour = rgb(0.445, 0.477, 0.449);
    return colour;
}
const QColor& shade() {
    static const QColor colour = rgb(0.54, 0.55, 0.51);
    return colour;
}
const QColor& orange() {
    static const QColor colour(255, 149, 0);
    return colour;
}
const QColor& recordingRed() {
    static const QColor colour = rgb(0.76, 0.34, 0.33);
    return colour;
}

void applyToBackground(QWidget* widget) {
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background());
    palette.setColor(QPalette::WindowText, dark());
    palette.setColor(QPalette::Text, dark());
    palette.setColor(QPalette::Base, background());
    palette.setColor(QPalette::PlaceholderText, muted());
    widget->setPalette(palette);
}

} // namespace parlo::Palette
