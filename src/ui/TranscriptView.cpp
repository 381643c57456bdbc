#include "ui/TranscriptView.h"

#include "library/LocalStore.h"
#include "library/MeetingResult.h"
#include "ui/Focus.h"
#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>

namespace parlo {

namespace {

constexpr int kRowPadding = 6;
constexpr int kColumnGap = 12;
constexpr int kSpeakerToText = 5;
constexpr int kLineSpacing = 4;

const QFont& timeFont() {
    static const QFont f = Theme::mono(9);
    return f;
}
const QFont& speakerFont() {
    static const QFont f = Theme::font(9);
    return f;
}
const QFont& textFont() {
    static const QFont f = Theme::font(11);
    return f;
}

QStringList breakLines(const QString& text, int width) {
    QStringList lines;
    QTextLayout layout(text, textFont());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines.append(text.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    if (lines.isEmpty())
        lines.append(QString());
    return lines;
}

} // namespace

TranscriptView::TranscriptView(const std::vector<TranscriptSegment>& segments, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("transcriptTab"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    Focus::repaintOnFocusChange(this);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    rows_.reserve(segments.size());
    for (const TranscriptSegment& segment : segments) {
        Row row;
        row.start = segment.start;
        row.time = QString::fromStdString(clockLabel(segment.start));
        row.speaker = QString::fromStdString(segment.speaker);
        row.text = QString::fromStdString(segment.text);
        rows_.push_back(std::move(row));
    }
}

const TranscriptView::Layout& TranscriptView::layoutFor(int width) const {
    for (const auto& [w, layout] : layouts_)
        if (w == width)
            return layout;
    const int textWidth = std::max(40, width - timeWidth - kColumnGap);
    const int speakerHeight = QFontMetrics(speakerFont()).height();
    const int lineHeight = QFontMetrics(textFont()).height();
    Layout layout;
    layout.lines.reserve(rows_.size());
    int y = 0;
    for (const Row& row : rows_) {
        QStringList lines = breakLines(row.text, textWidth);
        const auto count = static_cast<int>(lines.size());
        const int h = kRowPadding + speakerHeight + kSpeakerToText + count * lineHeight +
                      (count - 1) * kLineSpacing + kRowPadding;
        layout.lines.push_back(std::move(lines));
        layout.tops.push_back(y);
        layout.heights.push_back(h);
        y += h;
    }
    layout.height = y;
    if (layouts_.size() >= 4)
        layouts_.erase(layouts_.begin());
    layouts_.emplace_back(width, std::move(layout));
    return layouts_.back().second;
}

void TranscriptView::layoutRows(int width) const {
    if (width == laidOutWidth_)
        return;
    const Layout& layout = layoutFor(width);
    laidOutWidth_ = width;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        rows_[i].lines = layout.lines[i];
        rows_[i].top = layout.tops[i];
        rows_[i].height = layout.heights[i];
    }
    height_ = layout.height;
}

int TranscriptView::heightForWidth(int width) const {
    return layoutFor(width).height;
}

QSize TranscriptView::sizeHint() const {
    const int w = width() > 0 ? width() : 600;
    return {w, heightForWidth(w)};
}

QSize TranscriptView::minimumSizeHint() const {
    return {120, width() > 0 ? heightForWidth(width()) : 0};
}

void TranscriptView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int before = height_;
    layoutRows(width());
    if (height_ != before)
        updateGeometry();
}

QRect TranscriptView::timeRect(int index) const {
    layoutRows(width());
    const Row& row = rows_.at(static_cast<std::size_t>(index));
    return {0, row.top + kRowPadding, timeWidth, QFontMetrics(timeFont()).height()};
}

QString TranscriptView::timeText(int index) const {
    return rows_.at(static_cast<std::size_t>(index)).time;
}

QRect TranscriptView::rowRect(int index) const {
    layoutRows(width());
    const Row& row = rows_.at(static_cast<std::size_t>(index));
    return {0, row.top, width(), row.height};
}

void TranscriptView::setHighlighted(int index) {
    if (highlighted_ == index)
        return;
    highlighted_ = index;
    update();
}

double TranscriptView::start(int index) const {
    return rows_.at(static_cast<std::size_t>(index)).start;
}

int TranscriptView::rowAt(QPoint point) const {
    layoutRows(width());
    auto it = std::upper_bound(rows_.begin(), rows_.end(), point.y(),
                               [](int y, const Row& row) { return y < row.top; });
    if (it == rows_.begin())
        return -1;
    const int index = static_cast<int>(it - rows_.begin()) - 1;
    return timeRect(index).contains(point) ? index : -1;
}

void TranscriptView::paintEvent(QPaintEvent* event) {
    layoutRows(width());
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRect exposed = event->rect();
    const int speakerHeight = QFontMetrics(speakerFont()).height();
    const int lineHeight = QFontMetrics(textFont()).height();
    const int textLeft = timeWidth + kColumnGap;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        if (row.top + row.height < exposed.top())
            continue;
        if (row.top > exposed.bottom())
            break;
        if (static_cast<int>(i) == highlighted_) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(Theme::faded(Palette::mint(), 0.45));
            painter.drawRoundedRect(QRectF(0, row.top + 1, width(), row.height - 2), 8, 8);
        }
        const int top = row.top + kRowPadding;
        painter.setFont(timeFont());
        painter.setPen(Palette::muted());
        painter.drawText(QRect(0, top, timeWidth, QFontMetrics(timeFont()).height()), Qt::AlignLeft,
                         row.time);
        painter.setFont(speakerFont());
        painter.drawText(QRect(textLeft, top, width() - textLeft, speakerHeight), Qt::AlignLeft, row.speaker);
        painter.setFont(textFont());
        painter.setPen(Palette::dark());
        int y = top + speakerHeight + kSpeakerToText;
        for (const QString& line : row.lines) {
            painter.drawText(QRect(textLeft, y, width() - textLeft, lineHeight), Qt::AlignLeft, line);
            y += lineHeight + kLineSpacing;
        }
    }
    if (Focus::showsRing(this) && !rows_.empty())
        Focus::paintRing(painter, QRectF(timeRect(current_)).adjusted(0, -2, 0, 2), 4);
}

void TranscriptView::mouseMoveEvent(QMouseEvent* event) {
    setCursor(rowAt(event->position().toPoint()) >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QWidget::mouseMoveEvent(event);
}

void TranscriptView::keyPressEvent(QKeyEvent* event) {
    if (rows_.empty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
        Q_EMIT playRequested(rows_[static_cast<std::size_t>(current_)].start);
        return;
    }
    const int target = Focus::step(current_, count(), event->key());
    if (target < 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    current_ = target;
    Focus::reveal(this, timeRect(current_));
    update();
}

void TranscriptView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton ? rowAt(event->position().toPoint()) : -1;
}

void TranscriptView::mouseReleaseEvent(QMouseEvent* event) {
    const int row = rowAt(event->position().toPoint());
    const int pressed = pressed_;
    pressed_ = -1;
    if (event->button() == Qt::LeftButton && row >= 0 && row == pressed)
        Q_EMIT playRequested(rows_[static_cast<std::size_t>(row)].start);
}

} // namespace parlo
