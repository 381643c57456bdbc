#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

namespace parlo {

struct TranscriptSegment;

// The transcript tab: one row per segment with its time button, speaker and text. Drawn as one
// widget, because a long meeting has a thousand segments and a widget tree per row takes a visible
// moment to lay out.
class TranscriptView : public QWidget {
    Q_OBJECT
public:
    explicit TranscriptView(const std::vector<TranscriptSegment>& segments, QWidget* parent = nullptr);

    int count() const { return static_cast<int>(rows_.size()); }
    // The time button of row `index`, in this widget's coordinates (after the widget has a width).
    QRect timeRect(int index) const;
    QString timeText(int index) const;
    double start(int index) const;
    // The whole row of segment `index` (after the widget has a width).
    QRect rowRect(int index) const;
    // Marks one row (the line a search found); -1 marks none.
    void setHighlighted(int index);
    int highlighted() const { return highlighted_; }
    // The time button that the keyboard is on.
    int currentRow() const { return current_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    // The height its current width needs: the scroll area sizes the column from minimum sizes.
    QSize minimumSizeHint() const override;

    static constexpr int timeWidth = 40;

Q_SIGNALS:
    // A time button was clicked: its segment's start.
    void playRequested(double start);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // The hand over the time buttons only, not over the text.
    void mouseMoveEvent(QMouseEvent* event) override;
    // Up, Down, Home and End move among the time buttons; Return, Enter and Space play the current.
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Row {
        double start = 0;
        QString time;
        QString speaker;
        QString text;
        QStringList lines; // `text` broken at the laid-out width
        int top = 0;
        int height = 0;
    };
    // The rows' line breaks, tops and heights at one width. Layouts ask for several widths while
    // they settle, so a few are kept.
    struct Layout {
        std::vector<QStringList> lines;
        std::vector<int> tops;
        std::vector<int> heights;
        int height = 0;
    };
    const Layout& layoutFor(int width) const;
    void layoutRows(int width) const;
    int rowAt(QPoint point) const;

    mutable std::vector<Row> rows_;
    mutable int laidOutWidth_ = -1;
    mutable std::vector<std::pair<int, Layout>> layouts_;
    mutable int height_ = 0;
    int pressed_ = -1;
    int highlighted_ = -1;
    int current_ = 0;
};

} // namespace parlo
