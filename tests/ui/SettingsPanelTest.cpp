#include "ShellTestSupport.h"
#include "UiTestSupport.h"

#include "ui/Controls.h"
#include "ui/Palette.h"
#include "ui/SettingsPanel.h"
#include "ui/SoftButton.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace parlo;
using parlo::test::part;
using parlo::test::ShellTest;
using parlo::test::type;
using parlo::test::waitUntil;

namespace {

bool shown(QWidget& root, const char* name) {
    return part<QWidget>(root, name)->isVisibleTo(&root);
}

QString text(QWidget& root, const char* name) {
    return part<QLabel>(root, name)->text();
}

QColor colourOf(QWidget& root, const char* name) {
    return part<QLabel>(root, name)->palette().color(QPalette::WindowText);
}

void click(QWidget& root, const char* name) {
    auto* button = part<QAbstractButton>(root, name);
    ASSERT_TRUE(button->isVisibleTo(&root)) << name << " is hidden";
    ASSERT_TRUE(button->isEnabled()) << name << " is disabled";
    QTest::mouseClick(button, Qt::LeftButton);
}

const QString kNeedsPermission = QStringLiteral("Нужно разрешение");
const QString kAllowed = QStringLiteral("Разрешено");

class SettingsPanelTest : public ShellTest {
protected:
    int soundSettingsOpened = 0;
    std::unique_ptr<SettingsPanel> makePanel(AppModel& model) {
        auto panel = std::make_unique<SettingsPanel>(model);
        panel->setOpenSoundSettings([this] {
            ++soundSettingsOpened;
            return true;
        });
        panel->show();
        return panel;
    }
};

} // namespace

TEST_F(SettingsPanelTest, MissingPermissionsShowOrangeRowsUntilACheckFindsThemGranted) {
    grant(false);
    auto model = makeModel();
    auto panel = makePanel(*model);

    for (const char* row : {"microphone", "audio"}) {
        const std::string name(row);
        EXPECT_EQ(text(*panel, (name + "State").c_str()), kNeedsPermission) << row;
        EXPECT_EQ(colourOf(*panel, (name + "State").c_str()), Palette::orange()) << row;
        EXPECT_TRUE(shown(*panel, (name + "Missing").c_str())) << row;
        EXPECT_FALSE(shown(*panel, (name + "Granted").c_str())) << row;
    }
    EXPECT_FALSE(shown(*panel, "permissionCheckMessage"));

    grant(true); // the user fixed the sound setup; nothing shows it before a check
    EXPECT_EQ(text(*panel, "microphoneState"), kNeedsPermission);
    click(*panel, "checkAccessButton");
    ASSERT_TRUE(waitUntil([&] { return !model->checkingPermissions(); }));

    for (const char* row : {"microphone", "audio"}) {
        const std::string name(row);
        EXPECT_EQ(text(*panel, (name + "State").c_str()), kAllowed) << row;
        EXPECT_NE(colourOf(*panel, (name + "State").c_str()), Palette::orange()) << row;
        EXPECT_TRUE(shown(*panel, (name + "Granted").c_str())) << row;
        EXPECT_FALSE(shown(*panel, (name + "Missing").c_str())) << row;
    }
    EXPECT_EQ(permissions->verifications, 1) << "the check runs the reliable system-audio test";
    EXPECT_TRUE(shown(*panel, "permissionCheckMessage"));
    EXPECT_EQ(text(*panel, "permissionCheckMessage"),
              QStringLiteral("Микрофон и системный звук доступны. Можно нажать «Записать»."));
}

TEST_F(SettingsPanelTest, WhileACheckRunsBothButtonsAreDisabledAndTheSecondReadsChecking) {
    grant(true);
    auto model = makeModel();
    auto panel = makePanel(*model);
    auto* request = part<SoftButton>(*panel, "requestAccessButton");
    auto* check = part<SoftButton>(*panel, "checkAccessButton");
    EXPECT_EQ(check->text(), QStringLiteral("Проверить доступ"));

    permissions->gate.closed = true;
    click(*panel, "checkAccessButton");
    ASSERT_TRUE(model->checkingPermissions());
    EXPECT_FALSE(request->isEnabled());
    EXPECT_FALSE(check->isEnabled());
    EXPECT_EQ(check->text(), QStringLiteral("Проверяю…"));
    // A second press cannot start a second check.
    QTest::mouseClick(check, Qt::LeftButton);
    QTest::mouseClick(request, Qt::LeftButton);
    EXPECT_EQ(permissions->verifications, 1);

    permissions->gate.open();
    ASSERT_TRUE(waitUntil([&] { return !model->checkingPermissions(); }));
    EXPECT_TRUE(request->isEnabled());
    EXPECT_TRUE(check->isEnabled());
    EXPECT_EQ(check->text(), QStringLiteral("Проверить доступ"));
}

TEST_F(SettingsPanelTest, AllowingRecordsTheRequestThenRunsTheReliableCheck) {
    grant(true);
    auto model = makeModel();
    auto panel = makePanel(*model);
    // Test mode keeps this away from the real configuration, but across runs.
    QSettings(QStringLiteral("fernwick"), QStringLiteral("parlo"))
        .remove(QStringLiteral("requestedSystemAudioAccess"));
    ASSERT_FALSE(CapturePermissions::requestedSystemAudioAccess());

    click(*panel, "requestAccessButton");
    ASSERT_TRUE(waitUntil([&] { return permissions->verifications == 1 && !model->checkingPermissions(); }));
    EXPECT_TRUE(CapturePermissions::requestedSystemAudioAccess());
    EXPECT_EQ(text(*panel, "audioState"), kAllowed);
}

TEST_F(SettingsPanelTest, TheSettingsButtonsOfBothRowsOpenTheSoundSettingsOrSayTheyCould) {
    auto model = makeModel();
    auto panel = makePanel(*model);
    click(*panel, "microphoneSettings");
    click(*panel, "audioSettings");
    EXPECT_EQ(soundSettingsOpened, 2);
    EXPECT_FALSE(model->message().has_value());

    panel->setOpenSoundSettings([] { return false; });
    click(*panel, "audioSettings");
    ASSERT_TRUE(model->message().has_value());
    EXPECT_TRUE(model->message()->contains(QStringLiteral("настройки звука")));
    EXPECT_TRUE(shown(*panel, "settingsMessage"));
}

TEST_F(SettingsPanelTest, ConnectNeedsAKeyAndABlankKeyEnablesItButLogsNothingIn) {
    auto model = makeModel(true);
    auto panel = makePanel(*model);
    auto* connect = part<SoftButton>(*panel, "connectButton");
    auto* field = part<QLineEdit>(*panel, "keyField");
    EXPECT_TRUE(shown(*panel, "keyForm"));
    EXPECT_FALSE(shown(*panel, "connectedForm"));
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field->placeholderText(), QStringLiteral("Ключ личного доступа"));
    EXPECT_EQ(connect->text(), QStringLiteral("Подключить"));
    EXPECT_FALSE(connect->isEnabled());

    type(field, QStringLiteral("k"));
    EXPECT_EQ(model->password(), QStringLiteral("k"));
    EXPECT_TRUE(connect->isEnabled());
    field->clear();
    Q_EMIT field->textEdited(QString());
    EXPECT_FALSE(connect->isEnabled());

    type(field, QStringLiteral(" "));
    EXPECT_TRUE(connect->isEnabled()) << "the button does not trim the key";
    click(*panel, "connectButton");
    EXPECT_FALSE(model->loggingIn());
    test::spin(std::chrono::milliseconds(100));
    EXPECT_TRUE(service->service.requestsTo(QStringLiteral("/api/login")).isEmpty());
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(connect->text(), QStringLiteral("Подключить"));
}

TEST_F(SettingsPanelTest, ReturnInTheKeyFieldStartsNoLogin) {
    auto model = makeModel(true);
    auto panel = makePanel(*model);
    auto* field = part<QLineEdit>(*panel, "keyField");
    type(field, QStringLiteral("parlo-dev-key"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(model->loggingIn());
    test::spin(std::chrono::milliseconds(100));
    EXPECT_TRUE(service->service.requestsTo(QStringLiteral("/api/login")).isEmpty());
}

TEST_F(SettingsPanelTest, LoginReadsConnectingThenSwitchesTheCardAndLogoutSwitchesItBack) {
    auto model = makeModel(true);
    auto panel = makePanel(*model);
    EXPECT_EQ(text(*panel, "serviceHost"), QStringLiteral("127.0.0.1"));
    auto* connect = part<SoftButton>(*panel, "connectButton");
    type(part<QLineEdit>(*panel, "keyField"), QStringLiteral("parlo-dev-key"));

    click(*panel, "connectButton");
    ASSERT_TRUE(model->loggingIn());
    EXPECT_EQ(connect->text(), QStringLiteral("Подключаю…"));
    EXPECT_FALSE(connect->isEnabled());

    ASSERT_TRUE(waitUntil([&] { return !model->loggingIn(); }));
    ASSERT_TRUE(model->connected()) << model->message().value_or(QString()).toStdString();
    EXPECT_TRUE(shown(*panel, "connectedForm"));
    EXPECT_FALSE(shown(*panel, "keyForm"));
    EXPECT_TRUE(part<QLineEdit>(*panel, "keyField")->text().isEmpty()) << "the key is not kept";
    EXPECT_EQ(text(*panel, "settingsMessage"), QStringLiteral("Личный кабинет подключён."));

    test::OpenedUrls browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    click(*panel, "openAccountButton");
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    ASSERT_EQ(browser.urls.size(), 1);
    EXPECT_EQ(browser.urls.front(), service->service.baseUrl());

    click(*panel, "logoutButton");
    ASSERT_TRUE(waitUntil([&] { return !model->connected(); }));
    EXPECT_TRUE(shown(*panel, "keyForm"));
    EXPECT_FALSE(shown(*panel, "connectedForm"));
    EXPECT_EQ(connect->text(), QStringLiteral("Подключить"));
    EXPECT_FALSE(connect->isEnabled());
    EXPECT_EQ(service->service.requestsTo(QStringLiteral("/api/logout")).size(), 1);
}

TEST_F(SettingsPanelTest, AWrongKeyLeavesTheKeyFormWithTheServicesAnswer) {
    auto model = makeModel(true);
    auto panel = makePanel(*model);
    type(part<QLineEdit>(*panel, "keyField"), QStringLiteral("wrong"));
    click(*panel, "connectButton");
    ASSERT_TRUE(waitUntil([&] { return !model->loggingIn(); }));
    EXPECT_FALSE(model->connected());
    EXPECT_TRUE(shown(*panel, "keyForm"));
    EXPECT_TRUE(part<SoftButton>(*panel, "connectButton")->isEnabled()) << "the key stays for another try";
    EXPECT_TRUE(shown(*panel, "settingsMessage"));
    EXPECT_FALSE(text(*panel, "settingsMessage").isEmpty());
}

TEST_F(SettingsPanelTest, AutoStartRefusedWithoutPermissionsLeavesTheSwitchOffWithTheNotice) {
    grant(false);
    auto model = makeModel();
    auto panel = makePanel(*model);
    auto* toggle = part<Toggle>(*panel, "settingsAutoToggle");
    ASSERT_FALSE(toggle->isOn());

    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(model->autoEnabled());
    EXPECT_FALSE(toggle->isOn());
    EXPECT_TRUE(shown(*panel, "settingsMessage"));
    EXPECT_EQ(
        text(*panel, "settingsMessage"),
        QStringLiteral("Разрешите микрофон и запись системного звука, затем включите автостарт звонков."));

    grant(true);
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_TRUE(model->autoEnabled());
    EXPECT_TRUE(toggle->isOn());
    EXPECT_TRUE(settings.value(QStringLiteral("automaticCallRecording")).toBool());
    // A change elsewhere (the tray menu) shows here too.
    model->setAutoEnabled(false);
    EXPECT_FALSE(toggle->isOn());
}

TEST_F(SettingsPanelTest, TheCrossAndDoneBothCloseTheSheetAndTheMessageLineFollowsTheModel) {
    auto model = makeModel();
    auto panel = makePanel(*model);
    model->setSettingsVisible(true);
    click(*panel, "settingsDone");
    EXPECT_FALSE(model->settingsVisible());
    model->setSettingsVisible(true);
    click(*panel, "settingsClose");
    EXPECT_FALSE(model->settingsVisible());

    EXPECT_FALSE(shown(*panel, "settingsMessage"));
    model->setMessage(QStringLiteral("Сессия завершена."));
    EXPECT_TRUE(shown(*panel, "settingsMessage"));
    EXPECT_EQ(text(*panel, "settingsMessage"), QStringLiteral("Сессия завершена."));
    model->setMessage(std::nullopt);
    EXPECT_FALSE(shown(*panel, "settingsMessage"));
}

TEST_F(SettingsPanelTest, StartAtLoginWritesAndRemovesTheEntryAndFollowsTheFileOnDisk) {
    auto model = makeModel();
    auto panel = makePanel(*model);
    auto* toggle = part<Toggle>(*panel, "startAtLoginToggle");
    const QString entry =
        QString::fromStdString((configDir.path() / "autostart/mello-parlo.desktop").string());
    ASSERT_FALSE(toggle->isOn());

    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_TRUE(toggle->isOn());
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    file.close();
    EXPECT_TRUE(written.startsWith("[Desktop Entry]\n"));
    const QByteArray exec =
        "\nExec=" + QFile::encodeName(QCoreApplication::applicationFilePath()) + " --background\n";
    EXPECT_TRUE(written.contains(exec)) << written.toStdString();

    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle->isOn());
    EXPECT_FALSE(QFile::exists(entry));

    // Removed behind the application's back: the switch follows once the window is active again.
    QTest::mouseClick(toggle, Qt::LeftButton);
    ASSERT_TRUE(toggle->isOn());
    ASSERT_TRUE(QFile::remove(entry));
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(panel.get(), &activate);
    EXPECT_FALSE(toggle->isOn());

    // Switched off inside the file, as desktops' autostart settings do: a sheet opened now shows off.
    QTest::mouseClick(toggle, Qt::LeftButton);
    ASSERT_TRUE(model->startAtLogin());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nType=Application\nExec=mello-parlo --background\nHidden=true\n");
    file.close();
    EXPECT_FALSE(part<Toggle>(*makePanel(*model), "startAtLoginToggle")->isOn());
    EXPECT_FALSE(model->startAtLogin());
}

TEST_F(SettingsPanelTest, AnEntryThatCannotBeWrittenLeavesTheSwitchOffWithTheNotice) {
    // The autostart folder's place is taken by a file.
    QFile blocker(QString::fromStdString((configDir.path() / "autostart").string()));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto model = makeModel();
    auto panel = makePanel(*model);
    auto* toggle = part<Toggle>(*panel, "startAtLoginToggle");
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle->isOn());
    EXPECT_TRUE(text(*panel, "settingsMessage")
                    .startsWith(QStringLiteral("Не удалось включить запуск при входе в систему: ")));
}

TEST_F(SettingsPanelTest, TurningAutoStartOnOffersStartAtLoginOnceAndNotWhenItIsOn) {
    grant(true);
    auto model = makeModel();
    model->setAutoEnabled(true);
    ASSERT_TRUE(model->message().has_value());
    EXPECT_TRUE(model->message()->contains(QStringLiteral("«Запускать при входе в систему»")));
    EXPECT_TRUE(settings.value(QStringLiteral("offeredStartAtLogin")).toBool());

    model->setMessage(std::nullopt);
    model->setAutoEnabled(false);
    model->setAutoEnabled(true);
    EXPECT_FALSE(model->message().has_value()) << "offered twice";

    // Not offered at all to someone who already starts at login.
    settings.remove(QStringLiteral("offeredStartAtLogin"));
    model->setAutoEnabled(false);
    model->setStartAtLogin(true);
    model->setAutoEnabled(true);
    EXPECT_FALSE(model->message().has_value());
}
