#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QWidget>

namespace parlo {

// A button without chrome: an optional symbol and an optional text, drawn as they are.
class PlainButton : public QAbstractButton {
    Q_OBJECT
public:
    PlainButton(const QString& text, const QString& symbol, const QFont& font, const QColor& colour,
                QWidget* parent = nullptr);

    void setColour(const QColor& colour);
    QColor colour() const { return colour_; }
    QString symbol() const { return symbol_; }
    void setSymbolSize(int size);
    // Keeps the button at least `width` wide, its content leading-aligned.
    void setMinimumContentWidth(int width);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Return and Enter press it, like Space.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString symbol_;
    QColor colour_;
    int symbolSize_;
    int minimumWidth_ = 0;
};

// An on/off switch tinted mint. A click does not change the value by itself: it emits
// toggleRequested and the owner decides (the model may refuse), then calls setOn.
class Toggle : public QWidget {
    Q_OBJECT
public:
    explicit Toggle(QWidget* parent = nullptr);
    bool isOn() const { return on_; }
    void setOn(bool on);
    QSize sizeHint() const override { return {38, 22}; }

Q_SIGNALS:
    void toggleRequested(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool on_ = false;
};

// One source's level: its label and symbol over sixteen bars of rising heights.
class LevelMeter : public QWidget {
    Q_OBJECT
public:
    LevelMeter(const QString& text, const QString& symbol, QWidget* parent = nullptr);

    void setLevel(float level);
    void setReady(bool ready);
    float level() const { return level_; }
    bool ready() const { return ready_; }

    static constexpr int barCount = 16;
    static int barHeight(int index) { return 7 + 3 * (index % 5); }
    static bool isLit(int index, float level) { return index * 0.0625f < level; }
    int litBars() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QString symbol_;
    float level_ = 0;
    bool ready_ = false;
};

// A filled circle.
class Dot : public QWidget {
    Q_OBJECT
public:
    Dot(int diameter, const QColor& colour, QWidget* parent = nullptr);
    void setColour(const QColor& colour);
    QColor colour() const { return colour_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_;
};

// A symbol drawn at a fixed size.
class Symbol : public QWidget {
    Q_OBJECT
public:
    Symbol(const QString& name, int size, const QColor& colour, QWidget* parent = nullptr);
    QString name() const { return name_; }
    void setName(const QString& name);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name_;
    int size_;
    QColor colour_;
};

} // namespace parlo
