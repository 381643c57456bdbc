#include "ui/SoftButton.h"

#include "ui/Focus.h"
#include "ui/Palette.h"
#include "ui/Surface.h"
#include "ui/Theme.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>

namespace parlo {

namespace {

constexpr int kSymbolSpacing = 6;

// The button's raised shape, drawn by the host with the button's pressed scale and opacity.
class SoftButtonDecoration final : public Decoration {
    Q_OBJECT
public:
    explicit SoftButtonDecoration(SoftButton* button) : Decoration(button), button_(button) {}
    void paintBehind(QPainter& painter, const QRectF& rect, const QRect&) override {
        const SoftButtonStyle look = button_->look();
        const bool pressed = button_->isDown();
        const qreal s = look.scale(pressed);
        QRectF shape(0, 0, rect.width() * s, rect.height() * s);
        shape.moveCenter(rect.center());
        Raised{look.radius(), look.fill()}.paint(painter, shape, look.opacity(pressed));
    }
    QMargins overflow() const override { return Raised::overflow(); }

private:
    SoftButton* button_;
};

} // namespace

QColor SoftButtonStyle::fill() const {
    return mint ? Palette::mint() : Palette::surface();
}

SoftButton::SoftButton(const QString& text, const QString& symbol, bool mint, bool compact, QWidget* parent)
    : QAbstractButton(parent)
    , symbol_(symbol)
    , mint_(mint)
    , compact_(compact) {
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFont(Theme::rounded(look().fontSize(), QFont::DemiBold));
    new SoftButtonDecoration(this);
}

void SoftButton::setSymbol(const QString& symbol) {
    if (symbol_ == symbol)
        return;
    symbol_ = symbol;
    updateGeometry();
    update();
}

SoftButtonStyle SoftButton::look() const {
    return SoftButtonStyle{isEnabled(), mint_, compact_};
}

QSize SoftButton::sizeHint() const {
    const SoftButtonStyle s = look();
    const QFontMetrics metrics(font());
    int width = metrics.horizontalAdvance(text());
    const int symbolSize = s.fontSize() + 2;
    if (!symbol_.isEmpty())
        width += symbolSize + (text().isEmpty() ? 0 : kSymbolSpacing);
    const int height = qMax(metrics.height(), symbolSize);
    return {width + 2 * s.horizontalPadding(), height + 2 * s.verticalPadding()};
}

void SoftButton::paintEvent(QPaintEvent*) {
    const SoftButtonStyle s = look();
    const bool pressed = isDown();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(s.opacity(pressed));
    const qreal scale = s.scale(pressed);
    painter.translate(width() / 2.0, height() / 2.0);
    painter.scale(scale, scale);
    painter.translate(-width() / 2.0, -height() / 2.0);

    const QFontMetrics metrics(font());
    const int symbolSize = s.fontSize() + 2;
    const int textWidth = metrics.horizontalAdvance(text());
    int contentWidth = textWidth;
    if (!symbol_.isEmpty())
        contentWidth += symbolSize + (text().isEmpty() ? 0 : kSymbolSpacing);
    qreal x = (width() - contentWidth) / 2.0;
    if (!symbol_.isEmpty()) {
        const QPixmap glyph = Theme::icon(symbol_, symbolSize, Palette::dark(), devicePixelRatioF());
        painter.drawPixmap(QPointF(x, (height() - symbolSize) / 2.0), glyph);
        x += symbolSize + kSymbolSpacing;
    }
    painter.setPen(Palette::dark());
    painter.setFont(font());
    painter.drawText(QRectF(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    if (Focus::showsRing(this)) {
        painter.setOpacity(1);
        Focus::paintRing(painter, QRectF(rect()), s.radius());
    }
}

void SoftButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void SoftButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (auto* decoration = Decoration::of(this))
            decoration->invalidate();
    }
    QAbstractButton::changeEvent(event);
}

bool SoftButton::event(QEvent* event) {
    const bool handled = QAbstractButton::event(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        // The pressed look lives partly in the host's painting.
        if (auto* decoration = Decoration::of(this))
            decoration->invalidate();
        break;
    default:
        break;
    }
    return handled;
}

} // namespace parlo

#include "SoftButton.moc"
