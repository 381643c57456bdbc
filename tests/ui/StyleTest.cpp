#include "UiTestSupport.h"

#include "ui/LogoView.h"
#include "ui/Palette.h"
#include "ui/SoftButton.h"
#include "ui/Surface.h"
#include "ui/Theme.h"

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace parlo;
using parlo::test::distance;

namespace {

QImage paintRaised(qreal radius) {
    QImage image(200, 140, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    Raised{radius, Palette::surface()}.paint(painter, QRectF(40, 30, 120, 80));
    return image;
}

} // namespace

TEST(SoftButtonStyleTest, TheButtonReportsItsEnabledStateAndSizeFromItsVariant) {
    Theme::load();
    SoftButton regular(QStringLiteral("Записать"), QStringLiteral("record.circle"), true, false);
    SoftButton compact(QStringLiteral("Записать"), QStringLiteral("record.circle"), true, true);
    EXPECT_GT(regular.sizeHint().width(), compact.sizeHint().width());
    EXPECT_GT(regular.sizeHint().height(), compact.sizeHint().height());
    EXPECT_EQ(regular.look().fill(), Palette::mint());
    SoftButton plain(QStringLiteral("Отмена"), QStringLiteral("xmark"), false, false);
    EXPECT_EQ(plain.look().fill(), Palette::surface());
    regular.setEnabled(false);
    EXPECT_FALSE(regular.look().isEnabled);
    // Disabled and pressed, the two dimmings multiply; pressed, the button shrinks a little.
    EXPECT_DOUBLE_EQ(regular.look().opacity(false), 0.45);
    EXPECT_DOUBLE_EQ(regular.look().opacity(true), 0.85 * 0.45);
    EXPECT_LT(regular.look().scale(true), regular.look().scale(false));
}

TEST(RaisedTest, RadiusZeroDrawsSquareCornersAndARadiusRoundsThem) {
    const QImage square = paintRaised(0);
    const QImage rounded = paintRaised(20);
    // Just inside the shape's top-left corner.
    EXPECT_LE(distance(square.pixelColor(41, 31), Palette::surface()), 6);
    EXPECT_GT(distance(rounded.pixelColor(41, 31), Palette::surface()), 6);
    // The middle is the fill either way.
    EXPECT_LE(distance(square.pixelColor(100, 70), Palette::surface()), 1);
    EXPECT_LE(distance(rounded.pixelColor(100, 70), Palette::surface()), 1);
    // The cast shadow falls to the lower right, the highlight to the upper left.
    const QColor below = square.pixelColor(150, 118);
    const QColor above = square.pixelColor(45, 26);
    EXPECT_GT(below.alpha(), 0);
    EXPECT_LT(below.lightness(), 200);
    EXPECT_GT(above.alpha(), 0);
    EXPECT_GT(above.lightness(), 240);
}

TEST(EngravedTest, RadiusZeroFillsTheCornerAndTheWellIsDarkAtTheUpperLeft) {
    QImage image(120, 80, QImage::Format_ARGB32_Premultiplied);
    for (qreal radius : {0.0, 12.0}) {
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            Engraved{radius}.paint(painter, QRectF(0, 0, 120, 80));
        }
        if (radius == 0)
            EXPECT_EQ(image.pixelColor(0, 0).alpha(), 255);
        else
            EXPECT_LT(image.pixelColor(0, 0).alpha(), 128);
        EXPECT_LE(distance(image.pixelColor(60, 40), Palette::background()), 3);
        EXPECT_LT(image.pixelColor(60, 1).lightness(), image.pixelColor(60, 78).lightness());
    }
}

TEST(LogoViewTest, AMissingOrUnreadableImageShowsTheMintSymbolAtTheRequestedSize) {
    Theme::load();
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("AppLogo.png"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not an image");
    file.close();
    for (const QString& path : {dir.filePath(QStringLiteral("missing.png")), broken}) {
        LogoView logo(46, nullptr, path);
        EXPECT_FALSE(logo.showsImage());
        EXPECT_EQ(logo.size(), QSize(46, 46));
        const QImage picture = logo.grab().toImage();
        int mint = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                mint += distance(picture.pixelColor(x, y), Palette::mint()) < 12 ? 1 : 0;
        EXPECT_GT(mint, 46 * 46 / 4);
    }
}

TEST(LogoViewTest, AReadableImageIsShownInItsOwnColours) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("AppLogo.png"));
    QImage red(64, 32, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(path));
    LogoView logo(40, nullptr, path);
    EXPECT_TRUE(logo.showsImage());
    const QImage picture = logo.grab().toImage();
    EXPECT_EQ(picture.pixelColor(20, 20), QColor(Qt::red));
    // Kept in proportion: 40 x 20 in the middle of the square.
    EXPECT_NE(picture.pixelColor(20, 5), QColor(Qt::red));
}

TEST(ThemeTest, EverySymbolTheWindowsUseIsBundled) {
    for (const char* name : {"plus",
                             "waveform",
                             "slider.horizontal.3",
                             "quote.bubble",
                             "speaker.wave.2",
                             "mic",
                             "stop.fill",
                             "lock.open",
                             "record.circle",
                             "hourglass",
                             "magnifyingglass",
                             "tray",
                             "text.bubble",
                             "info.circle",
                             "xmark",
                             "ellipsis",
                             "play.fill",
                             "pause.fill",
                             "waveform.bubble.fill",
                             "checkmark.circle.fill",
                             "circle"}) {
        Theme::load();
        EXPECT_TRUE(Theme::hasIcon(QString::fromLatin1(name))) << name;
        const QImage image = Theme::icon(QString::fromLatin1(name), 24, Palette::dark()).toImage();
        int ink = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ink += image.pixelColor(x, y).alpha() > 128 ? 1 : 0;
        EXPECT_GT(ink, 10) << name;
    }
}
