#pragma once

#include <QColor>
#include <QMargins>
#include <QObject>
#include <QWidget>

class QPainter;
class QPainterPath;
class QRectF;

namespace parlo {

// A rounded rectangle whose curvature eases into the straight edges (no kink where the corner
// meets the side, unlike a circular arc). A radius of 0 gives square corners.
QPainterPath continuousRoundedRect(const QRectF& rect, qreal radius);

// The raised card: a rounded shape in `color` with a white highlight to the upper left, a soft shade
// shadow to the lower right and a thin white outline. Shadows reach outside the shape by overflow().
struct Raised {
    qreal radius = 0;
    QColor color;

    void paint(QPainter& painter, const QRectF& shape, qreal opacity = 1.0) const;
    static QMargins overflow();
    // Attaches the decoration to `widget`: its DecorationHost paints it behind the widget's content.
    static void apply(QWidget* widget, qreal radius, const QColor& color);
};

// The inset well: a rounded shape in Palette::background with an inner shade shadow from the upper
// left and an inner highlight from the lower right.
struct Engraved {
    qreal radius = 0;

    void paint(QPainter& painter, const QRectF& shape) const;
    // The well's padding around its content.
    static constexpr int padding = 12;
    // Attaches the decoration and pads the widget's layout (contents margins) by `padding`.
    static void apply(QWidget* widget, qreal radius);
};

// A decoration attached to one widget and painted, behind it, by the nearest DecorationHost above
// it. Shadows can reach outside the widget, which a widget cannot paint itself; the host can.
class Decoration : public QObject {
    Q_OBJECT
public:
    explicit Decoration(QWidget* target);
    ~Decoration() override;

    QWidget* target() const { return target_; }
    // Paints the decoration for the target whose rectangle, in the host's coordinates, is `rect`.
    virtual void paintBehind(QPainter& painter, const QRectF& rect, const QRect& exposed) = 0;
    // How far the painting reaches outside the target's rectangle.
    virtual QMargins overflow() const = 0;
    // Repaints the region the decoration covers.
    void invalidate();

    static Decoration* of(const QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* host() const;
    QWidget* target_;
};

// A widget that paints its background (optional) and then the decorations of its descendants, in
// tree order, so that a card's shadow lies under the wells inside the card.
class DecorationHost : public QWidget {
    Q_OBJECT
public:
    explicit DecorationHost(QWidget* parent = nullptr);
    void setBackground(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintDecorations(QPainter& painter, QWidget* widget, const QRect& exposed);
    QColor background_;
};

} // namespace parlo
