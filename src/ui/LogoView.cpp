#include "ui/LogoView.h"

#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QFile>
#include <QPainter>

namespace parlo {

LogoView::LogoView(int size, QWidget* parent, const QString& imagePath) : QWidget(parent), size_(size) {
    setFixedSize(size, size);
    // Looked up each time a view is built: no cache beyond this view's life.
    if (QFile::exists(imagePath))
        image_.load(imagePath);
}

void LogoView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!image_.isNull()) {
        QSizeF fitted = QSizeF(image_.size()).scaled(QSizeF(size_, size_), Qt::KeepAspectRatio);
        QRectF target(QPointF(0, 0), fitted);
        target.moveCenter(QRectF(rect()).center());
        painter.drawImage(target, image_);
        return;
    }
    painter.drawPixmap(
        0, 0,
        Theme::icon(QStringLiteral("waveform.bubble.fill"), size_, Palette::mint(), devicePixelRatioF()));
}

} // namespace parlo
