#pragma once

class QString;

namespace parlo {

// Run mode 1: renders the main window filled from the synthetic fixture into a PNG image.
// Returns the exit status.
int renderPreviewMode(const QString& path);

} // namespace parlo
