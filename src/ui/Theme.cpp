#include "ui/Theme.h"

#include "ui/Palette.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QColor>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QScrollBar>
#include <QSvgRenderer>

// Resources live in the static UI library: nothing references the generated object file unless it
// is initialised by name, and the linker would drop it. Outside any namespace, as Qt requires.
static void initialiseBundledResources() {
    Q_INIT_RESOURCE(resources);
}

namespace parlo::Theme {

namespace {

const char* const kPlainFamily = "DejaVu Sans";
const char* const kRoundedFamily = "Comfortaa";
const char* const kMonoFamily = "DejaVu Sans Mono";

QString paragraphHtml(const QString& text, qreal lineSpacing, bool centred) {
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    // "line-distance" adds the given height between lines instead of replacing the line height.
    return QStringLiteral(
               "<div align=\"%1\" style=\"line-height:%2px; -qt-line-height-type:line-distance;\">%3</div>")
        .arg(centred ? QStringLiteral("center") : QStringLiteral("left"))
        .arg(lineSpacing)
        .arg(escaped);
}

// A word-wrapping label that asks for the height its current width needs. A plain wrapping QLabel
// reports a minimum height for a much narrower width, and layouts then leave gaps below it.
class WrapLabel final : public QLabel {
    Q_OBJECT
public:
    explicit WrapLabel(QWidget* parent) : QLabel(parent) {
        setWordWrap(true);
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    QSize minimumSizeHint() const override {
        return {qMin(QLabel::minimumSizeHint().width(), 40), fontMetrics().height()};
    }
    // Layouts ask for the same widths many times while they settle; QLabel lays the text out anew
    // on every call.
    int heightForWidth(int width) const override {
        if (width != cachedWidth_ || text() != cachedText_) {
            cachedWidth_ = width;
            cachedText_ = text();
            cachedHeight_ = QLabel::heightForWidth(width);
        }
        return cachedHeight_;
    }
    QSize sizeHint() const override {
        const QSize natural = QLabel::sizeHint();
        return {natural.width(), width() > 0 ? heightForWidth(width()) : natural.height()};
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        if (heightForWidth(width()) != height())
            updateGeometry();
    }
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            cachedWidth_ = -1;
        QLabel::changeEvent(event);
    }

private:
    mutable int cachedWidth_ = -1;
    mutable int cachedHeight_ = 0;
    mutable QString cachedText_;
};

} // namespace

void load() {
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    initialiseBundledResources();
    for (const char* file :
         {":/fonts/DejaVuSans.ttf", ":/fonts/DejaVuSans-Bold.ttf", ":/fonts/DejaVuSansMono.ttf",
          ":/fonts/Comfortaa-Regular.ttf", ":/fonts/Comfortaa-Bold.ttf"})
        QFontDatabase::addApplicationFont(QString::fromLatin1(file));
    if (qApp)
        QApplication::setFont(font(13));
}

namespace {

// Fonts are kept once made, with their metrics asked for: a font engine stays loaded while a font
// that used it lives, so rebuilding a pane does not load the same faces and glyph advances again.
QFont cachedFont(const char* family, qreal size, int weight, qreal letterSpacing) {
    static QHash<QString, QFont> cache;
    const QString key = QStringLiteral("%1:%2:%3:%4")
                            .arg(QString::fromLatin1(family))
                            .arg(qRound(size))
                            .arg(weight)
                            .arg(letterSpacing);
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return *it;
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(qRound(size));
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setStyleStrategy(QFont::PreferAntialias);
    f.setHintingPreference(QFont::PreferNoHinting);
    if (letterSpacing != 0)
        f.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    (void)QFontMetrics(f).height();
    cache.insert(key, f);
    return f;
}

} // namespace

QFont font(qreal size, int weight, qreal letterSpacing) {
    return cachedFont(kPlainFamily, size, weight, letterSpacing);
}

QFont rounded(qreal size, int weight, qreal letterSpacing) {
    return cachedFont(kRoundedFamily, size, weight, letterSpacing);
}

QFont mono(qreal size, int weight) {
    return cachedFont(kMonoFamily, size, weight, 0);
}

QColor faded(const QColor& colour, qreal opacity) {
    QColor c = colour;
    c.setAlphaF(static_cast<float>(colour.alphaF() * opacity));
    return c;
}

bool hasIcon(const QString& name) {
    return QFile::exists(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
}

QPixmap icon(const QString& name, int size, const QColor& colour, qreal devicePixelRatio) {
    const QString key = QStringLiteral("parlo-icon:%1:%2:%3:%4")
                            .arg(name)
                            .arg(size)
                            .arg(colour.rgba(), 8, 16)
                            .arg(devicePixelRatio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;

    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
    if (renderer.isValid()) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    }
    // Ink to colour: black keeps its coverage, white (the cut-outs) becomes transparent.
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb tint = colour.rgb();
    const int tintAlpha = colour.alpha();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            const int ink = qAlpha(p) * (255 - qGray(p)) / 255;
            line[x] = qRgba(qRed(tint), qGreen(tint), qBlue(tint), ink * tintAlpha / 255);
        }
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, result);
    return result;
}

void thinScrollBars(QAbstractScrollArea* area) {
    const auto rgba = [](const QColor& colour, qreal opacity) {
        return QStringLiteral("rgba(%1, %2, %3, %4)")
            .arg(colour.red())
            .arg(colour.green())
            .arg(colour.blue())
            .arg(qRound(255 * opacity));
    };
    const QString handle = rgba(Palette::shade(), 0.45);
    const QString hover = rgba(Palette::muted(), 0.7);
    // A style sheet on the bars alone: the rest of the window keeps the plain style and its speed.
    const QString sheet =
        QStringLiteral(
            "QScrollBar:vertical { background: transparent; border: none; width: 8px; margin: 2px 1px; }"
            "QScrollBar:horizontal { background: transparent; border: none; height: 8px; margin: 1px 2px; }"
            "QScrollBar::handle { background: %1; border-radius: 3px; }"
            "QScrollBar::handle:vertical { min-height: 32px; }"
            "QScrollBar::handle:horizontal { min-width: 32px; }"
            "QScrollBar::handle:hover, QScrollBar::handle:pressed { background: %2; }"
            "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none; background: "
            "none; }"
            "QScrollBar::add-page, QScrollBar::sub-page { background: none; }")
            .arg(handle, hover);
    area->verticalScrollBar()->setStyleSheet(sheet);
    area->horizontalScrollBar()->setStyleSheet(sheet);
}

QLabel* label(const QString& text, const QFont& font, const QColor& colour, QWidget* parent, bool wrap) {
    QLabel* l = wrap ? new WrapLabel(parent) : new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setText(text);
    l->setFont(font);
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    l->setPalette(palette);
    return l;
}

QLabel* paragraph(const QString& text, const QFont& font, const QColor& colour, qreal lineSpacing,
                  QWidget* parent, Qt::Alignment alignment) {
    QLabel* l = label(QString(), font, colour, parent, true);
    l->setTextFormat(Qt::RichText);
    l->setAlignment(alignment);
    setParagraphText(l, text, lineSpacing);
    return l;
}

void setParagraphText(QLabel* l, const QString& text, qreal lineSpacing) {
    l->setText(paragraphHtml(text, lineSpacing, (l->alignment() & Qt::AlignHCenter) != 0));
}

} // namespace parlo::Theme

#include "Theme.moc"
