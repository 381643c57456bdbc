#pragma once

#include <QHBoxLayout>
#include <QMargins>
#include <QVBoxLayout>

namespace parlo {

// A vertical layout installed on `widget` with the given spacing and margins.
inline QVBoxLayout* column(QWidget* widget, int spacing, QMargins margins = {}) {
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(margins);
    layout->setSpacing(spacing);
    return layout;
}

// A horizontal layout installed on `widget` with the given spacing and margins.
inline QHBoxLayout* row(QWidget* widget, int spacing, QMargins margins = {}) {
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(margins);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace parlo
