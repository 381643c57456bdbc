#pragma once

class QImage;
class QString;

namespace parlo {

// Run mode 1: renders the main window filled from the synthetic fixture into a PNG image.
// Returns the exit status: 0, or 1 after printing "Preview failed: ..." on standard error.
int renderPreviewMode(const QString& path);

// Builds a preview model and the main window at 1260 x 920, lets it settle for 0.2 s and writes the
// picture as PNG to `destination` atomically. Throws ParloError ("Preview bitmap is unavailable",
// "Preview encoding failed") or PlatformError with the file system's description.
void renderPreview(const QString& destination);

// The picture alone, without writing it (used by renderPreview and by tests).
QImage renderPreviewImage();

} // namespace parlo
