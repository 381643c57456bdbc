#include "shell/ApplicationShell.h"

#include "capture/CapturePermissions.h"
#include "detection/CallActivityProbe.h"
#include "library/LocalStore.h"
#include "model/AppModel.h"
#include "platform/FileManagerReveal.h"
#include "platform/PlatformParts.h"
#include "platform/SoundServerMonitor.h"
#include "shell/QuitProtocol.h"
#include "shell/ShellTexts.h"
#include "shell/SingleInstance.h"
#include "ui/ApplicationWindow.h"
#include "ui/MainWindow.h"
#include "ui/PlaybackController.h"
#include "ui/Theme.h"
#include "ui/TrayMenu.h"
#include "ui/UiTexts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QPointer>
#include <QSessionManager>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>

namespace parlo {

namespace {

// How long a start in the background waits for a tray before it opens the window: at login the
// desktop starts its panel and the autostart entries side by side, and the panel's tray may come up
// a moment after us.
constexpr int kTrayGraceMs = 5000;

// The file choosers of the model. They are modal over the main window when it is up (the dialogs
// go through the desktop's portal where it has one).
std::optional<QString> chooseFile(const QPointer<QWidget>& parent, const QString& title,
                                  const QString& filter) {
    const QString path = QFileDialog::getOpenFileName(
        parent.data(), title, QStandardPaths::writableLocation(QStandardPaths::HomeLocation), filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

// The save chooser of the model, proposing `proposedName` in the user's documents.
std::optional<QString> chooseSaveFile(const QPointer<QWidget>& parent, const QString& title,
                                      const QString& proposedName, const QString& filter) {
    const QString path = QFileDialog::getSaveFileName(
        parent.data(), title,
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/') + proposedName,
        filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

AppModelServices realServices(QSettings* settings, std::shared_ptr<QPointer<QWidget>> dialogParent,
                              std::shared_ptr<platform::SoundServerMonitor> monitor) {
    AppModelServices services;
    services.clock = std::make_shared<SystemClock>();
    services.settings = settings;
    services.probe =
        std::make_shared<CallActivityProbe>(platform::soundServerAudioSystem(std::move(monitor)));
    services.recorderFactory = platform::soundServerRecorders();
    services.server = ServerClientOptions::fromEnvironment();
    services.server->secretStore = platform::desktopSecretStore();
    services.microphoneAuthorized = [] { return CapturePermissions::microphoneAuthorized(); };
    services.systemAudioPermission = [] { return CapturePermissions::systemAudioPermission(); };
    services.verifySystemAudio = [] { return CapturePermissions::verifyScreenAccess(); };
    services.verifySystemAudioOnActivation = [] {
        return CapturePermissions::requestedSystemAudioAccess() || CapturePermissions::systemAudioPreflight();
    };
    services.requestPermissions = [] { return CapturePermissions::request(); };
    services.codec = platform::ffmpegCodec();
    // A dialog's list of files, then every file. Returned as a QString: a deduced string builder would
    // refer to the temporaries of the return statement.
    const auto orAllFiles = [](const QString& filter) -> QString {
        return filter + QStringLiteral(";;") + QString::fromUtf8(ShellText::allFiles);
    };
    services.chooseAccessFile = [dialogParent, orAllFiles] {
        return chooseFile(*dialogParent, QString::fromUtf8(ShellText::accessFileTitle),
                          orAllFiles(QString::fromUtf8(ShellText::textFiles)));
    };
    services.chooseAudioFile = [dialogParent, orAllFiles] {
        return chooseFile(*dialogParent, QString::fromUtf8(UiText::addRecording),
                          orAllFiles(QString::fromUtf8(ShellText::audioAndVideoFiles)));
    };
    services.chooseExportFile = [dialogParent](const QString& proposedName, const QString& format) {
        return chooseSaveFile(*dialogParent, QString::fromUtf8(ShellText::exportTitle), proposedName,
                              format.toUpper() + QStringLiteral(" (*.") + format + QStringLiteral(")"));
    };
    services.chooseAudioDestination = [dialogParent, orAllFiles](const QString& proposedName) {
        const QString suffix = QFileInfo(proposedName).suffix();
        return chooseSaveFile(*dialogParent, QString::fromUtf8(ShellText::saveAudioTitle), proposedName,
                              suffix.isEmpty()
                                  ? QString::fromUtf8(ShellText::allFiles)
                                  : orAllFiles(QString::fromUtf8(ShellText::audioFiles).arg(suffix)));
    };
    services.openSoundSettings = [] { return CapturePermissions::openSoundSettings(); };
    services.revealFile = [](QString path) {
        return platform::revealInFileManager(
            std::move(path), [](const QUrl& folder) { return QDesktopServices::openUrl(folder); });
    };
    services.makePlayer = [](ServerClient& client) -> std::unique_ptr<MediaPlayer> {
        // The model owns both the client and the player it makes here, and drops the player first.
        ServerClient* service = &client;
        return std::make_unique<PlaybackController>(
            [service](std::string remoteID, std::filesystem::path destination) {
                return service->audio(QString::fromStdString(remoteID), std::move(destination));
            });
    };
    return services;
}

} // namespace

int runApplication(QApplication& app, bool preview, bool background) {
    QApplication::setOrganizationName(QStringLiteral("fernwick"));
    QApplication::setApplicationName(QStringLiteral("parlo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Mello Parlo"));
    // Ties the windows to the installed desktop entry (its name and icon in the desktop's switcher).
    QGuiApplication::setDesktopFileName(QStringLiteral("mello-parlo"));
    // The application lives in the tray: closing its window never quits it.
    QApplication::setQuitOnLastWindowClosed(false);

    // A second start over the same library only brings up the running application's window.
    SingleInstance instance(QString::fromStdString(LocalStore::root().string()) +
                            (preview ? QStringLiteral("#preview") : QString()));
    if (!instance.claim(!background))
        return 0;

    // Detection and the permission mirrors read one connection to the sound server, kept current on
    // its own thread; it connects while the rest starts up.
    const auto monitor = platform::soundServerMonitor();
    // The bundled fonts and resources (the preview's fixture among them) before anything reads them.
    Theme::load();
    // The model mirrors the permissions as soon as it exists: give the monitor a moment to see the
    // server, so a healthy one is not reported missing at start (a hung one costs this once).
    monitor->waitUntilSettled(platform::soundServerSettleLimit);
    CapturePermissions::setBackend(platform::soundServerPermissions(monitor));
    QSettings settings;
    auto dialogParent = std::make_shared<QPointer<QWidget>>();
    AppModel model(preview, realServices(&settings, dialogParent, monitor));
    QuitProtocol quit(&model);
    quit.installSignalHandlers();
    QObject::connect(&quit, &QuitProtocol::finished, &app,
                     [](int status) { QCoreApplication::exit(status); });
    // The desktop session ending: stop and save like any other quit.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &quit,
                     [&quit](QSessionManager&) { quit.requestQuit(); });

    ApplicationWindow window(model);
    const auto openWindow = [&window, dialogParent] {
        window.open();
        *dialogParent = window.window();
    };
    TrayMenu tray(model);
    QObject::connect(&tray, &TrayMenu::openWindowRequested, &window, openWindow);
    QObject::connect(&tray, &TrayMenu::quitRequested, &quit, &QuitProtocol::requestQuit);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window, openWindow);
    // Without a tray the window is the only way back in: closing it ends the application (a running
    // recording is saved first) instead of leaving a process nobody can reach.
    QObject::connect(&window, &ApplicationWindow::closed, &quit, [&quit] {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            quit.requestQuit();
    });
    QApplication::setWindowIcon(TrayMenu::applicationIcon());
    window.setQuitAction(tray.quitAction());
    tray.show();
    // The window group opens its window at launch, like any desktop application started by hand.
    // Started in the background, the tray icon is the way in; without a tray there would be none, so
    // the window opens after all.
    if (!background)
        openWindow();
    else if (!QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(kTrayGraceMs, &window, [openWindow] {
            if (!QSystemTrayIcon::isSystemTrayAvailable())
                openWindow();
        });
    return app.exec();
}

} // namespace parlo
