#include "ui/LibraryList.h"

#include "library/LocalRecording.h"
#include "ui/Focus.h"
#include "ui/Palette.h"
#include "ui/Surface.h"
#include "ui/Theme.h"
#include "ui/UiTexts.h"

#include <QDateTime>
#include <QHash>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>

namespace parlo {

namespace {

constexpr int kListPadding = 14; // above the first and below the last row
constexpr int kRowSpacing = 10;
constexpr int kRowPadding = 15;
constexpr int kTitleToMeta = 11;
constexpr int kMetaSpacing = 8;
constexpr int kTitleLines = 2;
constexpr int kEmptyPadding = 35;

const QFont& titleFont() {
    static const QFont f = Theme::rounded(12, QFont::DemiBold);
    return f;
}
const QFont& metaFont() {
    static const QFont f = Theme::font(9);
    return f;
}
const QFont& emptyFont() {
    static const QFont f = Theme::font(11);
    return f;
}

const QString& emptyText() {
    static const QString text = QString::fromUtf8(UiText::emptyLibrary);
    return text;
}

// A title broken into at most two lines at the row's text width; the second line is elided when
// the title is longer. Titles repeat across filters, so layouts are kept per text.
QStringList titleLines(const QString& title, int width) {
    static QHash<QString, QStringList> cache;
    if (auto it = cache.constFind(title); it != cache.constEnd())
        return *it;
    QStringList lines;
    QTextLayout layout(title, titleFont());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (lines.size() == kTitleLines - 1) {
            const QString rest = title.mid(line.textStart()).simplified();
            lines.append(QFontMetrics(titleFont()).elidedText(rest, Qt::ElideRight, width));
            break;
        }
        lines.append(title.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    if (lines.isEmpty())
        lines.append(QString());
    if (cache.size() > 20000)
        cache.clear();
    cache.insert(title, lines);
    return lines;
}

QString dateLabel(double created) {
    static const QLocale russian(QLocale::Russian, QLocale::Russia);
    const auto seconds = static_cast<qint64>(created + kUnixTimeOfLibraryEpoch);
    return russian.toString(QDateTime::fromSecsSinceEpoch(seconds).date(), QStringLiteral("d MMM"));
}

} // namespace

// Paints the rows' raised shapes from the host, so their shadows may fall outside the column.
class LibraryRowsDecoration final : public Decoration {
    Q_OBJECT
public:
    explicit LibraryRowsDecoration(LibraryList* list) : Decoration(list), list_(list) {}
    void paintBehind(QPainter& painter, const QRectF& rect, const QRect& exposed) override {
        list_->paintRowBackgrounds(painter, rect.topLeft(), exposed);
    }
    QMargins overflow() const override { return Raised::overflow(); }

private:
    LibraryList* list_;
};

LibraryList::LibraryList(QWidget* parent) : QWidget(parent) {
    setFixedWidth(columnWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Clicking a row gives the list the keyboard, so that Delete acts on the selected recording.
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    Focus::repaintOnFocusChange(this);
    new LibraryRowsDecoration(this);
    layoutRows();
}

LibraryList::~LibraryList() = default;

void LibraryList::setItems(const std::vector<LocalRecording>& items) {
    const int textWidth = columnWidth - 2 * kRowPadding;
    std::vector<Row> rows;
    rows.reserve(items.size());
    for (const LocalRecording& item : items) {
        Row row;
        row.id = item.id;
        row.title = QString::fromStdString(item.title);
        row.lines = titleLines(row.title, textWidth);
        row.date = dateLabel(item.created);
        row.status = QString::fromStdString(item.statusLabel());
        row.error = item.status == RecordingStatus::error;
        rows.push_back(std::move(row));
    }
    rows_ = std::move(rows);
    pressed_ = -1;
    layoutRows();
    update();
    if (auto* decoration = Decoration::of(this))
        decoration->invalidate();
}

void LibraryList::setSelection(std::optional<Uuid> selection) {
    if (selection_ == selection)
        return;
    selection_ = selection;
    if (auto* decoration = Decoration::of(this))
        decoration->invalidate();
    update();
}

void LibraryList::layoutRows() {
    const int titleLine = QFontMetrics(titleFont()).lineSpacing();
    const int metaLine = QFontMetrics(metaFont()).height();
    int y = kListPadding;
    for (Row& row : rows_) {
        row.top = y;
        row.height = kRowPadding + titleLine * static_cast<int>(row.lines.size()) + kTitleToMeta + metaLine +
                     kRowPadding;
        y += row.height + kRowSpacing;
    }
    if (rows_.empty()) {
        const int emptyHeight =
            kEmptyPadding + 24 + 8 + 2 * QFontMetrics(emptyFont()).lineSpacing() + kEmptyPadding;
        height_ = emptyHeight;
    } else {
        height_ = y - kRowSpacing + kListPadding;
    }
    setFixedHeight(height_);
}

QSize LibraryList::sizeHint() const {
    return {columnWidth, height_};
}

QRect LibraryList::rowRect(int index) const {
    if (index < 0 || index >= count())
        return {};
    const Row& row = rows_[static_cast<std::size_t>(index)];
    return {0, row.top, columnWidth, row.height};
}

Uuid LibraryList::rowId(int index) const {
    return rows_.at(static_cast<std::size_t>(index)).id;
}
QString LibraryList::rowTitle(int index) const {
    return rows_.at(static_cast<std::size_t>(index)).title;
}
QString LibraryList::rowDate(int index) const {
    return rows_.at(static_cast<std::size_t>(index)).date;
}
QString LibraryList::rowStatus(int index) const {
    return rows_.at(static_cast<std::size_t>(index)).status;
}
bool LibraryList::rowIsSelected(int index) const {
    return selection_ && rows_.at(static_cast<std::size_t>(index)).id == *selection_;
}

int LibraryList::rowAt(QPoint point) const {
    // Rows are sorted by position: binary search keeps hit tests cheap in long lists.
    auto it = std::upper_bound(rows_.begin(), rows_.end(), point.y(),
                               [](int y, const Row& row) { return y < row.top; });
    if (it == rows_.begin())
        return -1;
    --it;
    if (point.y() >= it->top + it->height || point.x() < 0 || point.x() >= columnWidth)
        return -1;
    return static_cast<int>(it - rows_.begin());
}

void LibraryList::paintRowBackgrounds(QPainter& painter, QPointF origin, const QRect& exposed) {
    const QMargins reach = Raised::overflow();
    const QColor selectedFill = Theme::faded(Palette::mint(), 0.55);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        const QRectF shape(origin.x(), origin.y() + row.top, columnWidth, row.height);
        if (shape.bottom() + reach.bottom() < exposed.top())
            continue;
        if (shape.top() - reach.top() > exposed.bottom())
            break;
        const bool selected = selection_ && row.id == *selection_;
        Raised{15, selected ? selectedFill : Palette::surface()}.paint(painter, shape);
    }
}

void LibraryList::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (rows_.empty()) {
        const int symbolTop = kEmptyPadding;
        painter.drawPixmap(QPointF((columnWidth - 24) / 2.0, symbolTop),
                           Theme::icon(QStringLiteral("tray"), 24, Palette::muted(), devicePixelRatioF()));
        painter.setPen(Palette::muted());
        painter.setFont(emptyFont());
        painter.drawText(QRectF(0, symbolTop + 24 + 8, columnWidth, height_ - symbolTop - 32 - kEmptyPadding),
                         Qt::AlignHCenter | Qt::AlignTop, emptyText());
        return;
    }
    const QRect exposed = event->rect();
    const QFontMetrics titleMetrics(titleFont());
    const QFontMetrics metaMetrics(metaFont());
    const int textWidth = columnWidth - 2 * kRowPadding;
    for (const Row& row : rows_) {
        if (row.top + row.height < exposed.top())
            continue;
        if (row.top > exposed.bottom())
            break;
        int y = row.top + kRowPadding;
        painter.setFont(titleFont());
        painter.setPen(Palette::dark());
        for (const QString& line : row.lines) {
            painter.drawText(QRectF(kRowPadding, y, textWidth, titleMetrics.lineSpacing()),
                             Qt::AlignLeft | Qt::AlignVCenter, line);
            y += titleMetrics.lineSpacing();
        }
        y += kTitleToMeta;
        painter.setFont(metaFont());
        painter.setPen(Palette::muted());
        const int dateWidth = metaMetrics.horizontalAdvance(row.date);
        painter.drawText(QRectF(kRowPadding, y, dateWidth + 1, metaMetrics.height()), Qt::AlignLeft,
                         row.date);
        painter.setPen(row.error ? Palette::orange() : Palette::muted());
        const int statusLeft = kRowPadding + dateWidth + kMetaSpacing;
        painter.drawText(
            QRectF(statusLeft, y, columnWidth - kRowPadding - statusLeft, metaMetrics.height()),
            Qt::AlignLeft,
            metaMetrics.elidedText(row.status, Qt::ElideRight, columnWidth - kRowPadding - statusLeft));
    }
    // The ring stands on the selected row, or on the first while none is.
    if (Focus::showsRing(this) && !rows_.empty())
        Focus::paintRing(painter, QRectF(rowRect(std::max(selectedRow(), 0))), 15);
}

int LibraryList::selectedRow() const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (selection_ && rows_[i].id == *selection_)
            return static_cast<int>(i);
    return -1;
}

void LibraryList::mouseMoveEvent(QMouseEvent* event) {
    setCursor(rowAt(event->position().toPoint()) >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QWidget::mouseMoveEvent(event);
}

void LibraryList::keyPressEvent(QKeyEvent* event) {
    // Delete acts on the selected recording (the window asks for a confirmation).
    const bool shown = selection_ && std::any_of(rows_.begin(), rows_.end(),
                                                 [&](const Row& row) { return row.id == *selection_; });
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier && shown) {
        Q_EMIT deleteRequested(*selection_);
        return;
    }
    const int selected = selectedRow();
    const bool press =
        event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space;
    const int target =
        press && !rows_.empty() ? std::max(selected, 0) : Focus::step(selected, count(), event->key());
    if (target < 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    Focus::reveal(this, rowRect(target));
    if (press || target != selected)
        Q_EMIT activated(rows_[static_cast<std::size_t>(target)].id);
}

void LibraryList::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton ? rowAt(event->position().toPoint()) : -1;
}

void LibraryList::mouseReleaseEvent(QMouseEvent* event) {
    const int row = rowAt(event->position().toPoint());
    const int pressed = pressed_;
    pressed_ = -1;
    if (event->button() == Qt::LeftButton && row >= 0 && row == pressed)
        Q_EMIT activated(rows_[static_cast<std::size_t>(row)].id);
}

} // namespace parlo

#include "LibraryList.moc"
