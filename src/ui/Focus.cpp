#include "ui/Focus.h"

#include "ui/Palette.h"
#include "ui/Surface.h"
#include "ui/Theme.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QWidget>

namespace parlo::Focus {

bool showsRing(const QWidget* widget) {
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void paintRing(QPainter& painter, const QRectF& rect, qreal radius) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Theme::faded(Palette::dark(), 0.6), 1.5));
    painter.drawPath(continuousRoundedRect(rect.adjusted(0.75, 0.75, -0.75, -0.75), radius));
    painter.restore();
}

namespace {

class FocusRepainter final : public QObject {
public:
    explicit FocusRepainter(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            static_cast<QWidget*>(watched)->update();
        return false;
    }
};

} // namespace

void repaintOnFocusChange(QWidget* widget) {
    new FocusRepainter(widget);
}

int step(int current, int count, int key) {
    if (count <= 0)
        return -1;
    switch (key) {
    case Qt::Key_Up:
        return current < 0 ? 0 : std::max(0, current - 1);
    case Qt::Key_Down:
        return current < 0 ? 0 : std::min(count - 1, current + 1);
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return count - 1;
    default:
        return -1;
    }
}

void reveal(QWidget* widget, const QRect& rect) {
    for (QWidget* above = widget->parentWidget(); above; above = above->parentWidget()) {
        auto* area = qobject_cast<QScrollArea*>(above);
        if (!area || !area->widget() || !area->widget()->isAncestorOf(widget))
            continue;
        const QPoint centre = widget->mapTo(area->widget(), rect.center());
        area->ensureVisible(centre.x(), centre.y(), rect.width() / 2 + 20, rect.height() / 2 + 20);
        return;
    }
}

} // namespace parlo::Focus
