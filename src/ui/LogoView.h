#pragma once

#include <QImage>
#include <QWidget>

namespace parlo {

// The application's mark in a square of `size`: the bundled "AppLogo.png" when it exists and
// decodes, scaled to fit in its own colours; otherwise the waveform-bubble symbol tinted mint.
class LogoView : public QWidget {
    Q_OBJECT
public:
    explicit LogoView(int size, QWidget* parent = nullptr,
                      const QString& imagePath = QStringLiteral(":/AppLogo.png"));

    bool showsImage() const { return !image_.isNull(); }
    QSize sizeHint() const override { return {size_, size_}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int size_;
    QImage image_;
};

} // namespace parlo
