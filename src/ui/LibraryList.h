#pragma once

#include "core/Uuid.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace parlo {

struct LocalRecording;

// The library's list column: one raised row per recording (title, date and status), or the empty
// state. Drawn as one widget so that a library of thousands of recordings filters and scrolls
// without building a widget per row.
class LibraryList : public QWidget {
    Q_OBJECT
public:
    explicit LibraryList(QWidget* parent = nullptr);
    ~LibraryList() override;

    void setItems(const std::vector<LocalRecording>& items);
    void setSelection(std::optional<Uuid> selection);

    int count() const { return static_cast<int>(rows_.size()); }
    bool showsEmptyState() const { return rows_.empty(); }
    // The row's rectangle in this widget, for hit tests.
    QRect rowRect(int index) const;
    Uuid rowId(int index) const;
    QString rowTitle(int index) const;
    QString rowDate(int index) const;
    QString rowStatus(int index) const;
    bool rowIsSelected(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr int columnWidth = 205;

Q_SIGNALS:
    // A row was clicked: its recording's identifier.
    void activated(const Uuid& id);
    // Delete was pressed while the list had the focus and a recording was selected.
    void deleteRequested(const Uuid& id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // The hand over rows only, not over the gaps or the empty state.
    void mouseMoveEvent(QMouseEvent* event) override;
    // Up, Down, Home and End select the row they lead to; Return, Enter and Space the current one.
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Row {
        Uuid id;
        QString title;
        QStringList lines;
        QString date;
        QString status;
        bool error = false;
        int top = 0;
        int height = 0;
    };
    friend class LibraryRowsDecoration;
    void layoutRows();
    int rowAt(QPoint point) const;
    // The selected row's index, or -1.
    int selectedRow() const;
    void paintRowBackgrounds(QPainter& painter, QPointF origin, const QRect& exposed);

    std::vector<Row> rows_;
    std::optional<Uuid> selection_;
    int height_ = 0;
    int pressed_ = -1;
};

} // namespace parlo
