#include "UiTestSupport.h"

#include "library/MeetingResult.h"
#include "model/AppModel.h"
#include "ui/MainWindow.h"
#include "ui/PreviewRenderer.h"
#include "ui/Theme.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace parlo;
using parlo::test::distance;

namespace {

// The fixed colours of the soft look, checked where the picture shows them.
const QColor kBackground(0xe6, 0xe5, 0xdd);
const QColor kSurface(0xf2, 0xf1, 0xea);
const QColor kMint(0xaf, 0xdc, 0xc7);

QColor over(const QColor& top, qreal opacity, const QColor& bottom) {
    auto mix = [opacity](int a, int b) { return qRound(a * opacity + b * (1 - opacity)); };
    return QColor(mix(top.red(), bottom.red()), mix(top.green(), bottom.green()),
                  mix(top.blue(), bottom.blue()));
}

// Where the preview window puts a widget, laid out exactly as the renderer lays it out.
QRect placeOf(const char* name) {
    AppModel model(true, AppModelServices{});
    MainWindow window(model);
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.setMinimumSize(0, 0);
    window.resize(1260, 920);
    window.show();
    QCoreApplication::processEvents();
    auto* widget = window.findChild<QWidget*>(QString::fromLatin1(name));
    if (!widget)
        return {};
    return QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size());
}

} // namespace

TEST(PreviewFixtureTest, TheBundledMeetingDecodesStrictlyAndFillsThePreviewModel) {
    Theme::load();
    QFile file(QStringLiteral(":/PreviewResult.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const ServerMeeting meeting =
        decodeServerMeeting(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    ASSERT_TRUE(meeting.result);
    EXPECT_EQ(meeting.result->language, "ru");
    EXPECT_GE(meeting.result->segments.size(), 10u);
    EXPECT_FALSE(meeting.result->summary.tasks.empty());
    // Every reference of the summary names a segment, so every item has its time button.
    for (const auto* list : {&meeting.result->summary.summary, &meeting.result->summary.decisions,
                             &meeting.result->summary.tasks})
        for (const NoteItem& item : *list)
            for (std::int64_t id : item.evidenceIds)
                EXPECT_TRUE(std::any_of(meeting.result->segments.begin(), meeting.result->segments.end(),
                                        [id](const TranscriptSegment& s) { return s.id == id; }))
                    << item.text;

    AppModel model(true, AppModelServices{});
    ASSERT_EQ(model.items().size(), 1u);
    const LocalRecording& fixture = model.items().front();
    EXPECT_EQ(model.selection(), std::optional<Uuid>(fixture.id));
    EXPECT_EQ(fixture.title, "Синтетическая встреча · планы на неделю");
    EXPECT_EQ(fixture.duration, std::optional<double>(meeting.result->duration));
    EXPECT_FALSE(fixture.fileName);
}

TEST(PreviewRenderTest, RenderingTwiceReplacesTheImageWholeAtTheWindowSize) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("preview.png"));
    {
        // Something larger than any picture, so a partial overwrite would leave a tail.
        QFile junk(path);
        ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8 * 1024 * 1024, 'x'));
    }
    ASSERT_EQ(renderPreviewMode(path), 0);
    const qint64 firstSize = QFileInfo(path).size();
    QImage first(path);
    ASSERT_FALSE(first.isNull());
    ASSERT_EQ(renderPreviewMode(path), 0);
    QImage second(path);
    ASSERT_FALSE(second.isNull());
    EXPECT_LT(firstSize, 8 * 1024 * 1024);
    const qreal ratio = second.devicePixelRatio();
    EXPECT_EQ(second.size(), QSize(qRound(1260 * ratio), qRound(920 * ratio)));
    EXPECT_EQ(first.size(), second.size());
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("preview.png")});
}

TEST(PreviewRenderTest, ThePictureShowsTheCardTheSidebarAndTheSelectedRowInTheirColours) {
    const QImage image = renderPreviewImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(image.size(), QSize(1260, 920));

    const QRect card = placeOf("recordingCard");
    ASSERT_TRUE(card.isValid());
    // Inside the card's padding, at the lower right, is the card's own fill.
    EXPECT_LE(distance(image.pixelColor(card.right() - 12, card.bottom() - 12), kSurface), 3);
    // Between the header and the card: the window's background.
    const QRect sidebar = placeOf("sidebar");
    EXPECT_LE(distance(image.pixelColor(sidebar.center().x(), sidebar.center().y()),
                       over(kSurface, 0.6, kBackground)),
              3);
    const QRect list = placeOf("libraryList");
    ASSERT_TRUE(list.isValid());
    // The one row is selected: translucent mint (its own highlight shows through a little), clearly
    // apart from the plain surface of an unselected row.
    const QColor row = image.pixelColor(list.right() - 6, list.top() + 14 + 40);
    const QColor mintRow = over(kMint, 0.55, kBackground);
    EXPECT_LT(distance(row, mintRow), distance(row, kSurface));
    EXPECT_GT(row.green() - row.red(), 10);
    const QRect content = placeOf("content");
    EXPECT_LE(distance(image.pixelColor(content.left() + 8, card.top() - 40), kBackground), 3);
}

TEST(PreviewRenderTest, AMissingFolderFailsWithTheFileSystemsDescriptionAndStatusOne) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/preview.png"));
    testing::internal::CaptureStderr();
    const int status = renderPreviewMode(path);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    // Qt may print its own warnings first; ours is one whole line with the platform's description.
    const std::size_t at = err.find("Preview failed: ");
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_TRUE(at == 0 || err[at - 1] == '\n');
    const std::string line = err.substr(at, err.find('\n', at) - at);
    EXPECT_GT(line.size(), std::string("Preview failed: ").size());
    EXPECT_FALSE(QFile::exists(path));
}

TEST(PreviewRenderTest, AddRecordingAndPlayAreDrawnEnabledAsInTheRunningApplication) {
    const QImage image = renderPreviewImage().convertToFormat(QImage::Format_RGB32);
    for (const char* name : {"importButton", "playButton"}) {
        const QRect button = placeOf(name);
        ASSERT_TRUE(button.isValid()) << name;
        // Inside the shape, left of its symbol: the mint fill at full strength (a disabled button is
        // drawn at 0.45 opacity, far lighter).
        EXPECT_LE(distance(image.pixelColor(button.left() + 6, button.center().y()), kMint), 6) << name;
    }
}
