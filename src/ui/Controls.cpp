#include "ui/Controls.h"

#include "ui/Focus.h"
#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace parlo {

namespace {
constexpr int kSymbolGap = 5;
}

PlainButton::PlainButton(const QString& text, const QString& symbol, const QFont& font, const QColor& colour,
                         QWidget* parent)
    : QAbstractButton(parent)
    , symbol_(symbol)
    , colour_(colour)
    , symbolSize_(qRound(font.pixelSize() * 1.25)) {
    setText(text);
    setFont(font);
    setCursor(Qt::PointingHandCursor);
    // Reached by Tab; a click does not take the focus from the field being typed in.
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PlainButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void PlainButton::setColour(const QColor& colour) {
    if (colour_ == colour)
        return;
    colour_ = colour;
    update();
}

void PlainButton::setSymbolSize(int size) {
    symbolSize_ = size;
    updateGeometry();
    update();
}

void PlainButton::setMinimumContentWidth(int width) {
    minimumWidth_ = width;
    updateGeometry();
}

QSize PlainButton::sizeHint() const {
    const QFontMetrics metrics(font());
    int width = text().isEmpty() ? 0 : metrics.horizontalAdvance(text());
    int height = text().isEmpty() ? 0 : metrics.height();
    if (!symbol_.isEmpty()) {
        width += symbolSize_ + (text().isEmpty() ? 0 : kSymbolGap);
        height = qMax(height, symbolSize_);
    }
    return {qMax(width, minimumWidth_), height};
}

void PlainButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    else if (isDown())
        painter.setOpacity(0.6);
    qreal x = 0;
    if (!symbol_.isEmpty()) {
        painter.drawPixmap(QPointF(x, (height() - symbolSize_) / 2.0),
                           Theme::icon(symbol_, symbolSize_, colour_, devicePixelRatioF()));
        x += symbolSize_ + kSymbolGap;
    }
    if (!text().isEmpty()) {
        painter.setPen(colour_);
        painter.setFont(font());
        painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
    if (Focus::showsRing(this)) {
        painter.setOpacity(1);
        Focus::paintRing(painter, QRectF(rect()), 4);
    }
}

Toggle::Toggle(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void Toggle::setOn(bool on) {
    if (on_ == on)
        return;
    on_ = on;
    update();
}

void Toggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal r = track.height() / 2;
    painter.setPen(QPen(Theme::faded(Palette::shade(), 0.35), 1));
    painter.setBrush(on_ ? Palette::mint() : Theme::faded(Palette::shade(), 0.25));
    painter.drawRoundedRect(track, r, r);
    const qreal knob = track.height() - 4;
    const qreal x = on_ ? track.right() - 2 - knob : track.left() + 2;
    painter.setPen(QPen(Theme::faded(Palette::shade(), 0.4), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (Focus::showsRing(this))
        Focus::paintRing(painter, QRectF(rect()), r);
}

void Toggle::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && isEnabled())
        Q_EMIT toggleRequested(!on_);
}

void Toggle::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return) {
        Q_EMIT toggleRequested(!on_);
        return;
    }
    QWidget::keyPressEvent(event);
}

LevelMeter::LevelMeter(const QString& text, const QString& symbol, QWidget* parent)
    : QWidget(parent)
    , text_(text)
    , symbol_(symbol) {
    setFont(Theme::font(10, QFont::Medium));
    setFixedWidth(127);
    setFixedHeight(sizeHint().height());
}

void LevelMeter::setLevel(float level) {
    if (level_ == level)
        return;
    level_ = level;
    update();
}

void LevelMeter::setReady(bool ready) {
    if (ready_ == ready)
        return;
    ready_ = ready;
    update();
}

int LevelMeter::litBars() const {
    int lit = 0;
    for (int i = 0; i < barCount; ++i)
        lit += isLit(i, level_) ? 1 : 0;
    return lit;
}

QSize LevelMeter::sizeHint() const {
    return {127, QFontMetrics(font()).height() + 9 + 20};
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics(font());
    const int symbolSize = 12;
    painter.drawPixmap(QPointF(0, (metrics.height() - symbolSize) / 2.0),
                       Theme::icon(symbol_, symbolSize, Palette::dark(), devicePixelRatioF()));
    painter.setPen(Palette::dark());
    painter.setFont(font());
    painter.drawText(QRectF(symbolSize + 5, 0, width() - symbolSize - 5, metrics.height()),
                     Qt::AlignVCenter | Qt::AlignLeft, text_);

    const qreal top = metrics.height() + 9;
    const QColor lit = Theme::faded(Palette::dark(), 0.65);
    const QColor unlit = Theme::faded(Palette::shade(), ready_ ? 0.19 : 0.1);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < barCount; ++i) {
        const qreal h = barHeight(i);
        // Bars stand centred in their 20-high frame.
        const QRectF bar(i * (4 + 3), top + (20 - h) / 2, 4, h);
        painter.setBrush(isLit(i, level_) ? lit : unlit);
        painter.drawRoundedRect(bar, 2, 2);
    }
}

Dot::Dot(int diameter, const QColor& colour, QWidget* parent) : QWidget(parent), colour_(colour) {
    setFixedSize(diameter, diameter);
}

void Dot::setColour(const QColor& colour) {
    if (colour_ == colour)
        return;
    colour_ = colour;
    update();
}

void Dot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour_);
    painter.drawEllipse(QRectF(rect()));
}

Symbol::Symbol(const QString& name, int size, const QColor& colour, QWidget* parent)
    : QWidget(parent)
    , name_(name)
    , size_(size)
    , colour_(colour) {
    setFixedSize(size, size);
}

void Symbol::setName(const QString& name) {
    if (name_ == name)
        return;
    name_ = name;
    update();
}

void Symbol::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, Theme::icon(name_, size_, colour_, devicePixelRatioF()));
}

} // namespace parlo
