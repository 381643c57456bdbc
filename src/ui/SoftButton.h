#pragma once

#include <QAbstractButton>

namespace parlo {

// The look of a soft button: font, padding, corner and fill by variant, and the opacities of the
// pressed and disabled states, which multiply.
struct SoftButtonStyle {
    bool isEnabled = true;
    bool mint = false;
    bool compact = false;

    int fontSize() const { return compact ? 11 : 13; }
    int horizontalPadding() const { return compact ? 12 : 20; }
    int verticalPadding() const { return compact ? 8 : 12; }
    qreal radius() const { return compact ? 10 : 14; }
    QColor fill() const;
    qreal scale(bool pressed) const { return pressed ? 0.97 : 1.0; }
    qreal opacity(bool pressed) const { return (pressed ? 0.85 : 1.0) * (isEnabled ? 1.0 : 0.45); }
};

// A push button in the soft look: a symbol and a label on a raised shape. The raised shape is
// painted by the enclosing DecorationHost, so its shadows may reach outside the button.
class SoftButton : public QAbstractButton {
    Q_OBJECT
public:
    SoftButton(const QString& text, const QString& symbol, bool mint, bool compact,
               QWidget* parent = nullptr);

    void setSymbol(const QString& symbol);
    QString symbol() const { return symbol_; }
    SoftButtonStyle look() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    // Return and Enter press it, like Space.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString symbol_;
    bool mint_;
    bool compact_;
};

} // namespace parlo
