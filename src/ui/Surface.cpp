#include "ui/Surface.h"

#include "ui/Palette.h"

#include <QEvent>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPixmapCache>

#include <cmath>
#include <vector>

namespace parlo {

namespace {

// Blur strength: the shadow "radius" is taken as the Gaussian's standard deviation, and the blur
// runs on an image a quarter of the size, then scaled up; the soft edge hides the coarser grid and
// the work drops to a small fraction.
constexpr qreal kDownscale = 4.0;
constexpr qreal kHighlightBlur = 5, kHighlightDx = -5, kHighlightDy = -5;
constexpr qreal kDropBlur = 7, kDropDx = 6, kDropDy = 7;

// Separable Gaussian on an 8-bit alpha image, in place.
void blurAlpha(QImage& image, qreal sigma) {
    if (sigma < 0.3)
        return;
    const int radius = static_cast<int>(std::ceil(sigma * 3));
    std::vector<float> kernel(2 * radius + 1);
    float sum = 0;
    for (int i = -radius; i <= radius; ++i) {
        kernel[i + radius] = std::exp(-(i * i) / (2.0f * static_cast<float>(sigma * sigma)));
        sum += kernel[i + radius];
    }
    for (float& k : kernel)
        k /= sum;
    const int w = image.width(), h = image.height();
    std::vector<float> line(static_cast<std::size_t>(qMax(w, h)));
    for (int y = 0; y < h; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < w; ++x) {
            float acc = 0;
            for (int k = -radius; k <= radius; ++k)
                acc += kernel[k + radius] * row[qBound(0, x + k, w - 1)];
            line[x] = acc;
        }
        for (int x = 0; x < w; ++x)
            row[x] = static_cast<uchar>(qBound(0.0f, line[x] + 0.5f, 255.0f));
    }
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) {
            float acc = 0;
            for (int k = -radius; k <= radius; ++k)
                acc += kernel[k + radius] * image.constScanLine(qBound(0, y + k, h - 1))[x];
            line[y] = acc;
        }
        for (int y = 0; y < h; ++y)
            image.scanLine(y)[x] = static_cast<uchar>(qBound(0.0f, line[y] + 0.5f, 255.0f));
    }
}

// The shape's coverage, blurred by `sigma` (full-size pixels), at a quarter of `fullSize`.
// `shape` is in full-size pixel coordinates. `inverted` blurs the outside instead of the inside.
QImage blurredMask(const QPainterPath& shape, QSize fullSize, qreal sigma, bool inverted) {
    const QSize small(qMax(1, static_cast<int>(std::ceil(fullSize.width() / kDownscale))),
                      qMax(1, static_cast<int>(std::ceil(fullSize.height() / kDownscale))));
    QImage mask(small, QImage::Format_Alpha8);
    mask.fill(inverted ? 255 : 0);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(small.width() / static_cast<qreal>(fullSize.width()),
                small.height() / static_cast<qreal>(fullSize.height()));
        if (inverted)
            p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.fillPath(shape, Qt::black);
    }
    blurAlpha(mask, sigma / kDownscale);
    return mask;
}

// Draws `mask` (a quarter-size coverage image) scaled to `fullSize` at `offset`, in `colour`.
void drawShadow(QPainter& painter, const QImage& mask, QSize fullSize, QPointF offset, const QColor& colour) {
    QImage tinted(mask.size(), QImage::Format_ARGB32_Premultiplied);
    tinted.fill(colour);
    {
        QPainter p(&tinted);
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.drawImage(0, 0, mask);
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(offset, QSizeF(fullSize)), tinted);
    painter.restore();
}

QColor withAlpha(const QColor& c, qreal alpha) {
    QColor result = c;
    result.setAlphaF(static_cast<float>(alpha));
    return result;
}

QPixmap raisedPixmap(QSizeF size, qreal radius, const QColor& color, qreal dpr) {
    const QMargins m = Raised::overflow();
    const QString key = QStringLiteral("parlo-raised:%1x%2:%3:%4:%5")
                            .arg(size.width())
                            .arg(size.height())
                            .arg(radius)
                            .arg(color.rgba(), 8, 16)
                            .arg(dpr);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;

    const QSizeF logical(size.width() + m.left() + m.right(), size.height() + m.top() + m.bottom());
    const QSize pixels(qCeil(logical.width() * dpr), qCeil(logical.height() * dpr));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        const QRectF shapeRect(QPointF(m.left(), m.top()), size);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        // Masks are made in device pixels.
        QTransform toDevice = QTransform::fromScale(dpr, dpr);
        const QPainterPath devicePath = toDevice.map(continuousRoundedRect(shapeRect, radius));
        const QImage highlight = blurredMask(devicePath, pixels, kHighlightBlur * dpr, false);
        const QImage drop = blurredMask(devicePath, pixels, kDropBlur * dpr, false);
        drawShadow(p, highlight, pixels, QPointF(kHighlightDx * dpr, kHighlightDy * dpr),
                   withAlpha(Qt::white, 0.95));
        drawShadow(p, drop, pixels, QPointF(kDropDx * dpr, kDropDy * dpr), withAlpha(Palette::shade(), 0.3));
        p.scale(dpr, dpr);
        const QPainterPath path = continuousRoundedRect(shapeRect, radius);
        p.fillPath(path, color);
        QPen outline(withAlpha(Qt::white, 0.5), 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        outline.setMiterLimit(10);
        p.strokePath(path, outline);
    }
    QPixmap result = QPixmap::fromImage(std::move(image));
    result.setDevicePixelRatio(dpr);
    QPixmapCache::insert(key, result);
    return result;
}

QPixmap engravedPixmap(QSizeF size, qreal radius, qreal dpr) {
    const QString key = QStringLiteral("parlo-engraved:%1x%2:%3:%4")
                            .arg(size.width())
                            .arg(size.height())
                            .arg(radius)
                            .arg(dpr);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;

    const QSize pixels(qCeil(size.width() * dpr), qCeil(size.height() * dpr));
    const QPainterPath devicePath =
        continuousRoundedRect(QRectF(QPointF(0, 0), QSizeF(pixels)), radius * dpr);
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(devicePath, Palette::background());
        // Inner shadows: the outside of the shape, blurred and shifted inwards, kept inside the shape.
        // The outside is drawn on a larger canvas so the shifted blur still covers every edge.
        const int pad = qCeil(16 * dpr);
        const QSize canvas(pixels.width() + 2 * pad, pixels.height() + 2 * pad);
        const QPainterPath canvasPath = devicePath.translated(pad, pad);
        const QImage dark = blurredMask(canvasPath, canvas, 4 * dpr, true);
        const QImage light = blurredMask(canvasPath, canvas, 3 * dpr, true);
        QImage layer(pixels, QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        {
            QPainter l(&layer);
            drawShadow(l, dark, canvas, QPointF(3 * dpr - pad, 3 * dpr - pad),
                       withAlpha(Palette::shade(), 0.24));
            drawShadow(l, light, canvas, QPointF(-3 * dpr - pad, -3 * dpr - pad), withAlpha(Qt::white, 0.85));
            // Keep only what lies inside the shape. A composition mode acts only where the source
            // draws, so the mask must cover the whole layer, clear outside the shape.
            QImage shapeMask(pixels, QImage::Format_ARGB32_Premultiplied);
            shapeMask.fill(Qt::transparent);
            {
                QPainter m(&shapeMask);
                m.setRenderHint(QPainter::Antialiasing);
                m.fillPath(devicePath, Qt::black);
            }
            l.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            l.drawImage(0, 0, shapeMask);
        }
        p.drawImage(0, 0, layer);
    }
    QPixmap result = QPixmap::fromImage(std::move(image));
    result.setDevicePixelRatio(dpr);
    QPixmapCache::insert(key, result);
    return result;
}

class RaisedDecoration final : public Decoration {

    Q_OBJECT
public:
    RaisedDecoration(QWidget* target, Raised look) : Decoration(target), look_(std::move(look)) {}
    void paintBehind(QPainter& painter, const QRectF& rect, const QRect&) override {
        look_.paint(painter, rect);
    }
    QMargins overflow() const override { return Raised::overflow(); }
    Raised look_;
};

class EngravedDecoration final : public Decoration {

    Q_OBJECT
public:
    EngravedDecoration(QWidget* target, qreal radius) : Decoration(target), look_{radius} {}
    void paintBehind(QPainter& painter, const QRectF& rect, const QRect&) override {
        look_.paint(painter, rect);
    }
    QMargins overflow() const override { return {}; }
    Engraved look_;
};

} // namespace

QPainterPath continuousRoundedRect(const QRectF& rect, qreal radius) {
    QPainterPath path;
    if (radius <= 0 || rect.isEmpty()) {
        path.addRect(rect);
        return path;
    }
    // Each corner is one cubic whose end tangents meet at the corner. Starting 1.5 radii from the
    // corner with control points 0.8 of the way in gives zero curvature at the joins and a corner
    // that bulges like the circular arc of `radius` at its middle.
    const qreal extent = std::min({radius * 1.5, rect.width() / 2, rect.height() / 2});
    const qreal k = 0.8;
    const qreal l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    path.moveTo(l + extent, t);
    path.lineTo(r - extent, t);
    path.cubicTo(r - extent * (1 - k), t, r, t + extent * (1 - k), r, t + extent);
    path.lineTo(r, b - extent);
    path.cubicTo(r, b - extent * (1 - k), r - extent * (1 - k), b, r - extent, b);
    path.lineTo(l + extent, b);
    path.cubicTo(l + extent * (1 - k), b, l, b - extent * (1 - k), l, b - extent);
    path.lineTo(l, t + extent);
    path.cubicTo(l, t + extent * (1 - k), l + extent * (1 - k), t, l + extent, t);
    path.closeSubpath();
    return path;
}

QMargins Raised::overflow() {
    // Three standard deviations of blur plus the offset, on each side.
    return QMargins(static_cast<int>(3 * kHighlightBlur - kHighlightDx) + 1,
                    static_cast<int>(3 * kHighlightBlur - kHighlightDy) + 1,
                    static_cast<int>(3 * kDropBlur + kDropDx) + 1,
                    static_cast<int>(3 * kDropBlur + kDropDy) + 1);
}

void Raised::paint(QPainter& painter, const QRectF& shape, qreal opacity) const {
    if (shape.isEmpty())
        return;
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPixmap pixmap = raisedPixmap(shape.size(), radius, color, dpr);
    const QMargins m = overflow();
    painter.save();
    painter.setOpacity(painter.opacity() * opacity);
    painter.drawPixmap(QPointF(shape.left() - m.left(), shape.top() - m.top()), pixmap);
    painter.restore();
}

void Raised::apply(QWidget* widget, qreal radius, const QColor& color) {
    delete Decoration::of(widget);
    new RaisedDecoration(widget, Raised{radius, color});
}

void Engraved::paint(QPainter& painter, const QRectF& shape) const {
    if (shape.isEmpty())
        return;
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    painter.drawPixmap(shape.topLeft(), engravedPixmap(shape.size(), radius, dpr));
}

void Engraved::apply(QWidget* widget, qreal radius) {
    delete Decoration::of(widget);
    new EngravedDecoration(widget, radius);
    widget->setContentsMargins(padding, padding, padding, padding);
}

Decoration::Decoration(QWidget* target) : QObject(target), target_(target) {
    setObjectName(QStringLiteral("parlo-decoration"));
    target->installEventFilter(this);
    invalidate();
}

Decoration::~Decoration() {
    // Being deleted with the target: the host repaints the target's area anyway.
}

Decoration* Decoration::of(const QWidget* widget) {
    for (QObject* child : widget->children())
        if (auto* decoration = dynamic_cast<Decoration*>(child))
            return decoration;
    return nullptr;
}

QWidget* Decoration::host() const {
    for (QWidget* w = target_->parentWidget(); w; w = w->parentWidget())
        if (dynamic_cast<DecorationHost*>(w))
            return w;
    return nullptr;
}

void Decoration::invalidate() {
    QWidget* h = host();
    if (!h || !target_->isVisible())
        return;
    const QRect rect(target_->mapTo(h, QPoint(0, 0)), target_->size());
    h->update(rect.marginsAdded(overflow()));
}

bool Decoration::eventFilter(QObject* watched, QEvent* event) {
    if (watched == target_) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide: {
            QWidget* h = host();
            if (h) {
                // The old place is unknown here after a move; repainting the host is cheap enough
                // because decorations come from a cache.
                h->update();
            }
            break;
        }
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

DecorationHost::DecorationHost(QWidget* parent) : QWidget(parent) {}

void DecorationHost::setBackground(const QColor& colour) {
    background_ = colour;
    update();
}

void DecorationHost::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (background_.isValid())
        painter.fillRect(event->rect(), background_);
    paintDecorations(painter, this, event->rect());
}

void DecorationHost::paintDecorations(QPainter& painter, QWidget* widget, const QRect& exposed) {
    for (QObject* child : widget->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isHidden() || w->isWindow())
            continue;
        if (dynamic_cast<DecorationHost*>(w))
            continue; // paints its own
        if (Decoration* decoration = Decoration::of(w)) {
            const QRect rect(w->mapTo(this, QPoint(0, 0)), w->size());
            if (rect.marginsAdded(decoration->overflow()).intersects(exposed))
                decoration->paintBehind(painter, QRectF(rect), exposed);
        }
        paintDecorations(painter, w, exposed);
    }
}

} // namespace parlo

#include "Surface.moc"
