#include "UiTestSupport.h"

#include "core/ParloError.h"
#include "ui/Controls.h"
#include "ui/LibraryList.h"
#include "ui/MainWindow.h"
#include "ui/RecordingDetail.h"
#include "ui/SoftButton.h"
#include "ui/Surface.h"
#include "ui/TranscriptView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

using namespace parlo;
using parlo::test::part;
using parlo::test::UiTest;

namespace {

QString labelText(QWidget& root, const char* name) {
    return part<QLabel>(root, name)->text();
}

bool shown(QWidget& root, const char* name) {
    return part<QWidget>(root, name)->isVisibleTo(&root);
}

using MainWindowTest = UiTest;

} // namespace

TEST_F(MainWindowTest, AnEmptyLibraryShowsTheEmptyStateACountOfZeroAndThePlaceholder) {
    auto model = makeModel({});
    MainWindow window(*model);
    window.show();

    EXPECT_TRUE(window.libraryList()->showsEmptyState());
    EXPECT_EQ(labelText(window, "libraryCount"), QStringLiteral("0"));
    EXPECT_TRUE(shown(window, "detailPlaceholder"));
    EXPECT_FALSE(window.detail()->isVisibleTo(&window));
    EXPECT_GE(part<QWidget>(window, "detailPlaceholder")->minimumHeight(), 285);
}

TEST_F(MainWindowTest, ASearchMatchingNothingShowsTheEmptyStateWhileTheCountKeepsAllRecordings) {
    auto model = makeModel({recording("Планёрка", 100), recording("Созвон с Казанью", 200)});
    MainWindow window(*model);
    window.show();
    ASSERT_EQ(window.libraryList()->count(), 2);

    auto* field = part<QLineEdit>(window, "searchField");
    test::type(field, QStringLiteral("казан"));
    EXPECT_EQ(model->search(), QStringLiteral("казан"));
    ASSERT_EQ(window.libraryList()->count(), 1);
    EXPECT_EQ(window.libraryList()->rowTitle(0), QStringLiteral("Созвон с Казанью"));

    QTest::keyClicks(field, QStringLiteral("xyz"));
    EXPECT_TRUE(window.libraryList()->showsEmptyState());
    EXPECT_EQ(labelText(window, "libraryCount"), QStringLiteral("2"));

    // The model's search written elsewhere reaches the field.
    model->setSearch(QString());
    EXPECT_EQ(field->text(), QString());
    EXPECT_EQ(window.libraryList()->count(), 2);
}

TEST_F(MainWindowTest, RowsFollowTheModelOrderAndShowDateAndStatus) {
    LocalRecording failed = recording("Сбой", 200, "error");
    failed.stage = "Нужно проверить запись";
    // 2026-12-08 12:00 UTC in library time.
    failed.created = 1796731200.0 - kUnixTimeOfLibraryEpoch;
    auto model = makeModel({recording("Старая", 100), failed});
    MainWindow window(*model);
    LibraryList* list = window.libraryList();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->rowTitle(0), QStringLiteral("Сбой")); // newest first
    EXPECT_EQ(list->rowDate(0), QStringLiteral("8 дек."));
    EXPECT_EQ(list->rowStatus(0), QString::fromStdString(failed.statusLabel()));
}

TEST_F(MainWindowTest, ClickingARowSelectsItAndReturnsToTheSummaryTab) {
    LocalRecording first = recording("Первая", 200);
    first.result = sampleResult();
    LocalRecording second = recording("Вторая", 100);
    second.result = sampleResult();
    auto model = makeModel({first, second});
    MainWindow window(*model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    model->setSelection(first.id);
    QTest::mouseClick(part<QAbstractButton>(window, "transcriptTabButton"), Qt::LeftButton);
    EXPECT_EQ(window.tab(), QStringLiteral("transcript"));
    EXPECT_NE(window.findChild<QWidget*>(QStringLiteral("transcriptTab")), nullptr);

    LibraryList* list = window.libraryList();
    ASSERT_EQ(list->rowId(1), second.id);
    QTest::mouseClick(list, Qt::LeftButton, {}, list->rowRect(1).center());
    EXPECT_EQ(model->selection(), std::optional<Uuid>(second.id));
    EXPECT_EQ(window.tab(), QStringLiteral("summary"));
    EXPECT_TRUE(list->rowIsSelected(1));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window.findChild<QWidget*>(QStringLiteral("transcriptTab")), nullptr);
    EXPECT_NE(window.findChild<QWidget*>(QStringLiteral("summaryTab")), nullptr);
}

TEST_F(MainWindowTest, StartingARecordingSwitchesTheCardTheDotAndTheActionArea) {
    auto model = makeModel({});
    MainWindow window(*model);
    window.show();
    EXPECT_EQ(labelText(window, "cardEyebrow"), QStringLiteral("ВНИМАНИЕ НА РАЗГОВОРЕ"));
    EXPECT_EQ(labelText(window, "cardHeadline"), QStringLiteral("Запишите любой разговор."));
    EXPECT_TRUE(shown(window, "recordButton"));
    EXPECT_FALSE(shown(window, "recordingActions"));
    EXPECT_EQ(part<Dot>(window, "statusDot")->colour().name(), QStringLiteral("#afdcc7")); // mint
    EXPECT_TRUE(shown(window, "recordingHint"));

    test::runTask(model->recordNow());
    ASSERT_TRUE(model->recordingID());
    EXPECT_EQ(labelText(window, "cardEyebrow"), QStringLiteral("ВСТРЕЧА ИДЁТ"));
    EXPECT_EQ(labelText(window, "cardHeadline"), QStringLiteral("Я сохраняю главное."));
    EXPECT_EQ(part<Dot>(window, "statusDot")->colour().name(), QStringLiteral("#c25754")); // recording red
    EXPECT_EQ(labelText(window, "statusTitle"), model->statusTitle());
    EXPECT_TRUE(shown(window, "recordingActions"));
    EXPECT_FALSE(shown(window, "recordButton"));
    EXPECT_FALSE(shown(window, "accessButton"));
    EXPECT_FALSE(shown(window, "recordingHint"));
    EXPECT_EQ(labelText(window, "elapsedClock"), QStringLiteral("00:00"));
    // The new recording is selected and its detail says it is still being made.
    EXPECT_NE(window.findChild<QWidget*>(QStringLiteral("recordingNote")), nullptr);

    QTest::mouseClick(part<QAbstractButton>(window, "stopButton"), Qt::LeftButton);
    test::spin(std::chrono::milliseconds(50));
    EXPECT_FALSE(model->recordingID());
    EXPECT_TRUE(shown(window, "recordButton"));
    EXPECT_EQ(part<Dot>(window, "statusDot")->colour().name(), QStringLiteral("#afdcc7")); // mint
}

TEST_F(MainWindowTest, ADiskThatStopsTakingTheTracksIsSaidInTheRecordingCard) {
    auto model = makeModel({});
    MainWindow window(*model);
    window.show();
    test::runTask(model->recordNow());
    EXPECT_FALSE(shown(window, "recordingWarning"));
    script.current->onWriteFailure(std::make_error_code(std::errc::no_space_on_device));
    ASSERT_TRUE(test::waitUntil([&] { return shown(window, "recordingWarning"); }));
    EXPECT_TRUE(labelText(window, "recordingWarning").contains(QStringLiteral("Диск заполнен")));
    test::runTask(model->stopRecording(true));
    EXPECT_FALSE(shown(window, "recordingWarning"));
}

TEST_F(MainWindowTest, MissingSystemAudioPermissionOffersAccessSetupInsteadOfRecording) {
    systemAudio = false;
    auto model = makeModel({});
    MainWindow window(*model);
    window.show();
    EXPECT_TRUE(shown(window, "accessButton"));
    EXPECT_FALSE(shown(window, "recordButton"));
    EXPECT_FALSE(shown(window, "recordingHint"));
    EXPECT_EQ(part<SoftButton>(window, "accessButton")->text(), QStringLiteral("Настроить доступ"));
    EXPECT_FALSE(part<LevelMeter>(window, "systemMeter")->ready());
    EXPECT_TRUE(part<LevelMeter>(window, "microphoneMeter")->ready());

    QTest::mouseClick(part<QAbstractButton>(window, "accessButton"), Qt::LeftButton);
    EXPECT_TRUE(model->settingsVisible());
}

TEST_F(MainWindowTest, TheSettingsSheetIsPresentedWhileSettingsAreVisibleAndDismissingHidesIt) {
    auto model = makeModel({});
    MainWindow window(*model);
    int built = 0;
    window.setSettingsPanelFactory([&built](QWidget* parent) {
        ++built;
        return new QWidget(parent);
    });
    window.show();
    EXPECT_EQ(window.settingsSheet(), nullptr);
    QTest::mouseClick(part<QAbstractButton>(window, "headerSettingsButton"), Qt::LeftButton);
    ASSERT_NE(window.settingsSheet(), nullptr);
    EXPECT_EQ(built, 1);
    QTest::keyClick(window.settingsSheet(), Qt::Key_Escape);
    EXPECT_FALSE(model->settingsVisible());
    EXPECT_EQ(window.settingsSheet(), nullptr);
}

TEST_F(MainWindowTest, ClosingTheToastClearsTheMessageAndANewMessageShowsItAgain) {
    auto model = makeModel({});
    MainWindow window(*model);
    window.show();
    EXPECT_FALSE(window.toast()->isVisible());

    model->setMessage(QStringLiteral("Звук пока не готов."));
    ASSERT_TRUE(window.toast()->isVisible());
    EXPECT_EQ(window.toast()->text(), QStringLiteral("Звук пока не готов."));
    // The toast's shape (its shadow may reach further) keeps 24 from the bottom edge.
    EXPECT_EQ(window.toast()->geometry().marginsRemoved(Raised::overflow()).bottom() + 1,
              window.height() - 24);
    // Centred on its shape, within a pixel.
    EXPECT_LE(std::abs(window.toast()->geometry().marginsRemoved(Raised::overflow()).center().x() -
                       window.rect().center().x()),
              1);

    QTest::mouseClick(part<QAbstractButton>(window, "messageClose"), Qt::LeftButton);
    EXPECT_FALSE(model->message());
    EXPECT_FALSE(window.toast()->isVisible());

    model->setMessage(QStringLiteral("Запись сохранена."));
    EXPECT_TRUE(window.toast()->isVisible());
    EXPECT_EQ(window.toast()->text(), QStringLiteral("Запись сохранена."));
}

TEST_F(MainWindowTest, TheAutoStartSwitchShowsTheModelValueWhenTheModelRefuses) {
    microphone = false;
    auto model = makeModel({});
    MainWindow window(*model);
    window.show();
    auto* toggle = part<Toggle>(window, "autoToggle");
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(model->autoEnabled());
    EXPECT_FALSE(toggle->isOn());
    EXPECT_TRUE(model->message());
}

TEST_F(MainWindowTest, AddRecordingAsksForAFile) {
    int asked = 0;
    auto model = makeModel({}, [&asked](AppModelServices& services) {
        services.chooseAudioFile = [&asked]() -> std::optional<QString> {
            ++asked;
            return std::nullopt;
        };
    });
    MainWindow window(*model);
    window.show();
    QTest::mouseClick(part<QAbstractButton>(window, "importButton"), Qt::LeftButton);
    EXPECT_EQ(asked, 1);
}

TEST_F(MainWindowTest, LevelMetersLightOneBarPerSixteenthOfTheLevel) {
    EXPECT_EQ(LevelMeter::barHeight(0), 7);
    EXPECT_EQ(LevelMeter::barHeight(4), 19);
    EXPECT_EQ(LevelMeter::barHeight(5), 7);
    LevelMeter meter(QStringLiteral("Ваш микрофон"), QStringLiteral("mic"));
    meter.setLevel(0);
    EXPECT_EQ(meter.litBars(), 0);
    meter.setLevel(0.0625f);
    EXPECT_EQ(meter.litBars(), 1); // bar 0 only: 1 x 0.0625 is not below the level
    meter.setLevel(0.5f);
    EXPECT_EQ(meter.litBars(), 8);
    meter.setLevel(1.0f);
    EXPECT_EQ(meter.litBars(), 16);
}

TEST_F(MainWindowTest, ALongTranscriptLengthensTheScrollingColumnInsteadOfBeingCutOff) {
    LocalRecording r = recording("Длинная встреча", 100);
    MeetingResult result;
    result.language = "ru";
    for (int i = 1; i <= 300; ++i)
        result.segments.push_back(
            segment(i, i * 5.0, "Давайте зафиксируем, что релиз переносится на четверг."));
    result.duration = 1500;
    result.summary.mode = "meeting";
    r.result = std::make_shared<const StoredResult>(std::move(result));
    auto model = makeModel({r});
    MainWindow window(*model);
    window.resize(1260, 870);
    window.show();
    model->setSelection(r.id);
    QTest::mouseClick(part<QAbstractButton>(window, "transcriptTabButton"), Qt::LeftButton);
    QCoreApplication::processEvents();
    auto* transcript = part<TranscriptView>(window, "transcriptTab");
    // Every row is laid out at its full height, and the column scrolls to show it all.
    EXPECT_EQ(transcript->height(), transcript->heightForWidth(transcript->width()));
    EXPECT_GT(transcript->height(), 300 * 30);
    auto* content = part<QWidget>(window, "content");
    EXPECT_GE(content->height(), transcript->mapTo(content, QPoint(0, transcript->height())).y());
}

TEST_F(MainWindowTest, BecomingTheActiveApplicationRefreshesPermissionsVerifyingWhenAsked) {
    bool wanted = false;
    int verifications = 0;
    auto model = makeModel({}, [&](AppModelServices& services) {
        services.verifySystemAudioOnActivation = [&wanted] { return wanted; };
        services.verifySystemAudio = [&verifications]() -> QCoro::Task<> {
            ++verifications;
            co_return;
        };
    });
    MainWindow window(*model);
    microphone = false;
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(model->microphonePermission()) << "the mirrors are refreshed";
    EXPECT_EQ(verifications, 0);
    wanted = true;
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(verifications, 1);
}

TEST_F(MainWindowTest, ShowFilesAsksForTheAudioFileAndAFailureBecomesTheNotice) {
    LocalRecording saved = recording("Планёрка", 100);
    saved.folderName = saved.id.toString();
    saved.fileName = "conversation.m4a";
    std::vector<QString> asked;
    auto model = makeModel({saved}, [&asked](AppModelServices& services) {
        services.revealFile = [&asked](QString path) -> QCoro::Task<> {
            asked.push_back(path);
            throw PlatformError(QStringLiteral("Файловый менеджер не ответил."));
            co_return;
        };
    });
    MainWindow window(*model);
    window.show();
    model->setSelection(saved.id);
    QAction* reveal = nullptr;
    for (QAction* action : window.findChild<QMenu*>(QStringLiteral("detailMenu"))->actions())
        if (action->text() == QStringLiteral("Показать файлы"))
            reveal = action;
    ASSERT_NE(reveal, nullptr);
    reveal->trigger();
    ASSERT_TRUE(test::waitUntil([&] { return model->message().has_value(); }));
    EXPECT_EQ(asked, std::vector<QString>{QString::fromStdString(LocalStore::media(saved)->string())});
    EXPECT_EQ(model->message(), QStringLiteral("Файловый менеджер не ответил."));
}
