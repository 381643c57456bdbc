#include "ShellTestSupport.h"

#include "library/LocalStore.h"
#include "shell/QuitProtocol.h"
#include "shell/SingleInstance.h"
#include "ui/ApplicationWindow.h"
#include "ui/MainWindow.h"
#include "ui/SettingsPanel.h"
#include "ui/TrayMenu.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

using namespace parlo;
using parlo::test::ShellTest;
using parlo::test::waitUntil;

namespace {

QAction* item(TrayMenu& tray, const char* name) {
    for (QAction* action : tray.menu()->actions())
        if (action->objectName() == QString::fromLatin1(name))
            return action;
    throw std::runtime_error(std::string("no menu item named ") + name);
}

// The menu as the user sees it: the visible items' texts, "-" for a separator.
QStringList visibleItems(TrayMenu& tray) {
    QStringList texts;
    for (QAction* action : tray.menu()->actions())
        if (action->isVisible())
            texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

class TrayMenuTest : public ShellTest {
protected:
    int windowOpened = 0;
    int quitRequested = 0;
    QStringList notified; // the titles of the tray's notifications, in order
    std::unique_ptr<TrayMenu> makeTray(AppModel& model) {
        auto tray = std::make_unique<TrayMenu>(model);
        QObject::connect(tray.get(), &TrayMenu::openWindowRequested, [this] { ++windowOpened; });
        QObject::connect(tray.get(), &TrayMenu::quitRequested, [this] { ++quitRequested; });
        QObject::connect(tray.get(), &TrayMenu::notified,
                         [this](const QString& title, const QString&) { notified.append(title); });
        return tray;
    }
};

} // namespace

TEST_F(TrayMenuTest, TheIdleMenuHoldsTheNineItemsInOrder) {
    grant(true);
    auto model = makeModel();
    auto tray = makeTray(*model);

    EXPECT_EQ(
        visibleItems(*tray),
        (QStringList{QStringLiteral("Mello Parlo"), QStringLiteral("Готов к записи"), QStringLiteral("-"),
                     QStringLiteral("Открыть приложение"), QStringLiteral("Автостарт звонков"),
                     QStringLiteral("Записать"), QStringLiteral("Настройки…"), QStringLiteral("-"),
                     QStringLiteral("Завершить Mello Parlo")}));
    EXPECT_FALSE(item(*tray, "trayTitle")->isEnabled());
    EXPECT_FALSE(item(*tray, "trayStatus")->isEnabled());
    EXPECT_TRUE(item(*tray, "trayRecord")->isEnabled());
    EXPECT_EQ(item(*tray, "trayQuit")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    EXPECT_EQ(tray->labelTitle(), QStringLiteral("Mello"));
    EXPECT_FALSE(tray->showsRecordMark());

    // The status line follows the model.
    grant(false);
    test::runTask(model->refreshPermissions(false));
    EXPECT_EQ(item(*tray, "trayStatus")->text(), model->statusTitle());
    EXPECT_EQ(item(*tray, "trayStatus")->text(), QStringLiteral("Нужен доступ к звуку"));
}

TEST_F(TrayMenuTest, RecordStartingAndStopSwapWithTheModel) {
    grant(true);
    auto model = makeModel();
    auto tray = makeTray(*model);
    QAction* record = item(*tray, "trayRecord");
    QAction* stop = item(*tray, "trayStop");

    script.startGate.closed = true;
    record->trigger();
    ASSERT_TRUE(model->starting());
    EXPECT_TRUE(record->isVisible());
    EXPECT_EQ(record->text(), QStringLiteral("Начинаю запись…"));
    EXPECT_FALSE(record->isEnabled());
    EXPECT_FALSE(stop->isVisible());

    script.startGate.open();
    ASSERT_TRUE(waitUntil([&] { return model->recordingID().has_value(); }));
    EXPECT_FALSE(record->isVisible());
    EXPECT_TRUE(stop->isVisible());
    EXPECT_TRUE(stop->isEnabled());
    // The label: the clock with the record mark, in the tooltip and the menu too.
    EXPECT_EQ(tray->labelTitle(), QStringLiteral("00:00"));
    EXPECT_TRUE(tray->showsRecordMark());
    clock->advance(65);
    test::runTask(model->tick());
    EXPECT_EQ(tray->labelTitle(), QStringLiteral("01:05"));
    EXPECT_TRUE(tray->trayIcon()->toolTip().startsWith(QStringLiteral("01:05")));
    EXPECT_TRUE(item(*tray, "trayStatus")->text().contains(QStringLiteral("01:05")));

    script.stopGate.closed = true;
    stop->trigger();
    ASSERT_TRUE(model->finalizing());
    EXPECT_TRUE(stop->isVisible()) << "the recording runs until it is saved";
    EXPECT_TRUE(stop->isEnabled()) << "the stop item has no disabled state";
    stop->trigger(); // a second press while finalizing reaches the model, which ignores it
    EXPECT_EQ(item(*tray, "trayStatus")->text().section(QStringLiteral(" · "), 0, 0),
              QStringLiteral("Сохраняю разговор"));

    script.stopGate.open();
    ASSERT_TRUE(waitUntil([&] { return !model->recordingID().has_value(); }));
    EXPECT_TRUE(record->isVisible());
    EXPECT_TRUE(record->isEnabled());
    EXPECT_EQ(record->text(), QStringLiteral("Записать"));
    EXPECT_FALSE(stop->isVisible());
    EXPECT_EQ(tray->labelTitle(), QStringLiteral("Mello"));
    EXPECT_FALSE(tray->showsRecordMark());
    ASSERT_EQ(model->items().size(), 1u);
    EXPECT_EQ(model->items().front().status, RecordingStatus::waitingLogin);
}

TEST_F(TrayMenuTest, TheAutoStartItemSpringsBackWhenTheModelRefuses) {
    grant(false);
    auto model = makeModel();
    auto tray = makeTray(*model);
    QAction* toggle = item(*tray, "trayAutoStart");
    ASSERT_TRUE(toggle->isCheckable());
    EXPECT_FALSE(toggle->isChecked());

    toggle->trigger();
    EXPECT_FALSE(model->autoEnabled());
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(
        model->message(),
        QStringLiteral("Разрешите микрофон и запись системного звука, затем включите автостарт звонков."));

    grant(true);
    toggle->trigger();
    EXPECT_TRUE(model->autoEnabled());
    EXPECT_TRUE(toggle->isChecked());
    model->setAutoEnabled(false); // from the window
    EXPECT_FALSE(toggle->isChecked());
}

TEST_F(TrayMenuTest, OpenSettingsAndQuitRunTheirActions) {
    auto model = makeModel();
    auto tray = makeTray(*model);
    item(*tray, "trayOpen")->trigger();
    EXPECT_EQ(windowOpened, 1);
    EXPECT_FALSE(model->settingsVisible());
    item(*tray, "traySettings")->trigger();
    EXPECT_EQ(windowOpened, 2);
    EXPECT_TRUE(model->settingsVisible());
    item(*tray, "trayQuit")->trigger();
    EXPECT_EQ(quitRequested, 1);
}

TEST_F(TrayMenuTest, SettingsWithTheWindowClosedOpensItWithTheSheet) {
    auto model = makeModel();
    ApplicationWindow window(*model);
    TrayMenu tray(*model);
    QObject::connect(&tray, &TrayMenu::openWindowRequested, &window, &ApplicationWindow::open);
    window.open();
    window.window()->close();
    ASSERT_FALSE(window.window()->isVisible());
    ASSERT_EQ(window.window()->settingsSheet(), nullptr);

    item(tray, "traySettings")->trigger();
    ASSERT_TRUE(window.window()->isVisible());
    QWidget* sheet = window.window()->settingsSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisibleTo(window.window()));
    EXPECT_NE(sheet->findChild<SettingsPanel*>(), nullptr);

    // "Готово" takes the sheet down again.
    auto* done = sheet->findChild<QAbstractButton*>(QStringLiteral("settingsDone"));
    ASSERT_NE(done, nullptr);
    done->click();
    EXPECT_FALSE(model->settingsVisible());
    EXPECT_EQ(window.window()->settingsSheet(), nullptr);
}

TEST_F(TrayMenuTest, TheWindowCarriesTheImportAndQuitCommands) {
    auto model = makeModel();
    ApplicationWindow window(*model);
    auto tray = makeTray(*model);
    window.setQuitAction(tray->quitAction());
    window.open();

    EXPECT_EQ(window.importAction()->text(), QStringLiteral("Добавить запись…"));
    EXPECT_EQ(window.importAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    ASSERT_TRUE(window.window()->actions().contains(window.importAction()));
    ASSERT_TRUE(window.window()->actions().contains(tray->quitAction()));
    window.importAction()->trigger();
    EXPECT_EQ(audioFilesAsked, 1);
}

TEST_F(TrayMenuTest, QuittingFromTheMenuDuringARecordingSavesItBeforeTheEnd) {
    grant(true);
    auto model = makeModel();
    QuitProtocol quit(model.get());
    QObject::connect(model.get(), &AppModel::terminationRequested, &quit,
                     [&quit] { Q_EMIT quit.finished(0); });
    QSignalSpy finished(&quit, &QuitProtocol::finished);
    TrayMenu tray(*model);
    QObject::connect(&tray, &TrayMenu::quitRequested, &quit, &QuitProtocol::requestQuit);
    test::runTask(model->recordNow());
    ASSERT_TRUE(model->recordingID().has_value());

    script.stopGate.closed = true;
    item(tray, "trayQuit")->trigger();
    ASSERT_TRUE(model->finalizing());
    EXPECT_EQ(finished.count(), 0) << "the process must not end before the recording is saved";
    script.stopGate.open();
    ASSERT_TRUE(waitUntil([&] { return finished.count() > 0; }));
    EXPECT_EQ(finished.front().front().toInt(), 0);
    const std::vector<LocalRecording> saved = LocalStore::load();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved.front().status, RecordingStatus::waitingLogin);
    EXPECT_EQ(saved.front().fileName, std::optional<std::string>("conversation.m4a"));
}

TEST_F(TrayMenuTest, ARecordingThatStartsAndStopsByItselfIsAnnounced) {
    grant(true);
    auto model = makeModel();
    model->setAutoEnabled(true);
    auto tray = makeTray(*model);

    tickIntoAutomaticRecording(*model);
    ASSERT_EQ(notified.count(), 1);
    EXPECT_EQ(notified.at(0), QStringLiteral("Идёт запись звонка"));

    // Nothing heard from either side for a minute: said once, however long it lasts.
    for (int i = 0; i < 2; ++i) {
        clock->advance(61);
        test::runTask(model->tick());
    }
    ASSERT_EQ(notified.count(), 2);
    EXPECT_EQ(notified.at(1), QStringLiteral("Проверьте звук записи"));

    probe->call(false);
    ASSERT_TRUE(waitUntil([&] {
        clock->advance(0.8);
        test::runTask(model->tick());
        return !model->recordingID().has_value();
    }));
    ASSERT_EQ(notified.count(), 3);
    EXPECT_EQ(notified.at(2), QStringLiteral("Запись завершена"));
}

TEST_F(TrayMenuTest, RecordingsStartedOrStoppedByTheUserAreNotAnnounced) {
    grant(true);
    auto model = makeModel();
    model->setAutoEnabled(true);
    auto tray = makeTray(*model);

    // By hand, during a call: the call ending does not stop it, the user does.
    probe->call(true);
    item(*tray, "trayRecord")->trigger();
    ASSERT_TRUE(waitUntil([&] { return model->recordingID().has_value(); }));
    for (int i = 0; i < 6; ++i) {
        clock->advance(0.8);
        test::runTask(model->tick());
    }
    item(*tray, "trayStop")->trigger();
    ASSERT_TRUE(waitUntil([&] { return !model->recordingID().has_value(); }));

    // Started by itself, stopped by the user: the start is announced, the stop is not.
    for (int i = 0; i < 10; ++i) { // the manual stop suppresses the call for 3 s after it ends
        probe->call(false);
        clock->advance(0.8);
        test::runTask(model->tick());
    }
    tickIntoAutomaticRecording(*model);
    item(*tray, "trayStop")->trigger();
    ASSERT_TRUE(waitUntil([&] { return !model->recordingID().has_value(); }));
    ASSERT_EQ(notified.count(), 1);
    EXPECT_EQ(notified.at(0), QStringLiteral("Идёт запись звонка"));
}

TEST_F(TrayMenuTest, CtrlQWhileTheMenuIsOpenQuits) {
    auto model = makeModel();
    auto tray = makeTray(*model);
    tray->menu()->popup(QPoint(10, 10));
    ASSERT_TRUE(waitUntil([&] { return tray->menu()->isVisible(); }));
    QTest::keyClick(tray->menu(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quitRequested, 1);
    EXPECT_FALSE(tray->menu()->isVisible());
    // Other keys still navigate the menu.
    tray->menu()->popup(QPoint(10, 10));
    QTest::keyClick(tray->menu(), Qt::Key_Q);
    EXPECT_EQ(quitRequested, 1);
}

TEST_F(TrayMenuTest, SelectingARecordingOfTheServiceFetchesItsDetail) {
    auto model = makeModel(true);
    const QString remote = service->service.addMeeting(QStringLiteral("Из кабинета"), 1'700'000'000.0);
    model->setPassword(QStringLiteral("parlo-dev-key"));
    test::runTask(model->login());
    ASSERT_EQ(model->items().size(), 1u);
    MainWindow window(*model);
    service->service.clearRequests();

    model->setSelection(model->items().front().id);
    EXPECT_TRUE(waitUntil(
        [&] { return !service->service.requestsTo(QStringLiteral("/api/meetings/") + remote).isEmpty(); }));
}

TEST_F(TrayMenuTest, ClosingTheWindowIsReportedEachTime) {
    auto model = makeModel();
    ApplicationWindow window(*model);
    int closed = 0;
    QObject::connect(&window, &ApplicationWindow::closed, [&closed] { ++closed; });
    window.open();
    window.window()->close();
    ASSERT_TRUE(waitUntil([&] { return closed == 1; }));
    EXPECT_FALSE(window.window()->isVisible());
    window.open();
    EXPECT_TRUE(window.window()->isVisible()) << "the same window comes back";
    window.window()->close();
    ASSERT_TRUE(waitUntil([&] { return closed == 2; }));
}

TEST(SingleInstanceTest, ASecondClaimOnTheSameLibraryAsksTheFirstForItsWindow) {
    const QString key = QStringLiteral("/tmp/parlo-single-instance-test-") +
                        QString::number(QCoreApplication::applicationPid());
    SingleInstance first(key);
    int activations = 0;
    QObject::connect(&first, &SingleInstance::activationRequested, [&activations] { ++activations; });
    ASSERT_TRUE(first.claim());

    SingleInstance other(key + QStringLiteral("-elsewhere"));
    EXPECT_TRUE(other.claim()) << "another library runs beside it";

    SingleInstance second(key);
    EXPECT_FALSE(second.claim());
    ASSERT_TRUE(waitUntil([&] { return activations == 1; }));
    EXPECT_EQ(activations, 1);
}
