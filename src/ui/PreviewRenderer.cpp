#include "ui/PreviewRenderer.h"

#include "core/ParloError.h"
#include "model/AppModel.h"
#include "ui/MainWindow.h"
#include "ui/Theme.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QImage>
#include <QPixmap>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>

namespace parlo {

namespace {
constexpr int kPreviewWidth = 1260;
constexpr int kPreviewHeight = 920;
constexpr int kSettleMs = 200;
} // namespace

QImage renderPreviewImage() {
    Theme::load();
    // The preview model reads no library, starts no timer and sends nothing.
    AppModel model(true, AppModelServices{});
    MainWindow window(model);
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.setMinimumSize(0, 0);
    window.resize(kPreviewWidth, kPreviewHeight);
    window.show();
    // Let the work the views schedule on their first appearance (layouts, deferred deletes) run.
    QEventLoop loop;
    QTimer::singleShot(kSettleMs, &loop, &QEventLoop::quit);
    loop.exec();
    const QPixmap pixmap = window.grab(QRect(0, 0, kPreviewWidth, kPreviewHeight));
    return pixmap.toImage();
}

void renderPreview(const QString& destination) {
    const QImage image = renderPreviewImage();
    if (image.isNull())
        throw ParloError("Preview bitmap is unavailable");
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG"))
            throw ParloError("Preview encoding failed");
    }
    if (bytes.isEmpty())
        throw ParloError("Preview encoding failed");
    // A temporary file beside the destination replaces it whole: a reader never sees half an image.
    QSaveFile file(destination);
    if (!file.open(QIODevice::WriteOnly))
        throw PlatformError(file.errorString());
    if (file.write(bytes) != bytes.size())
        throw PlatformError(file.errorString());
    if (!file.commit())
        throw PlatformError(file.errorString());
}

int renderPreviewMode(const QString& path) {
    try {
        renderPreview(path);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Preview failed: %s\n", describeError(error).toUtf8().constData());
        return 1;
    }
    std::puts("Native SwiftUI preview rendered (synthetic fixture; capture disabled)");
    std::fflush(stdout);
    return 0;
}

} // namespace parlo
