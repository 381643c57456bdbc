#include "app/ApplicationShell.h"

#include "app/AppModel.h"
#include "app/QuitProtocol.h"
#include "capture/CapturePermissions.h"
#include "capture/SystemAudioRecorder.h"
#include "detection/CallActivityProbe.h"
#include "library/LocalStore.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSessionManager>
#include <QSettings>
#include <QStyle>
#include <QSystemTrayIcon>

namespace parlo {

namespace {

AppModelServices realServices(QSettings* settings) {
    AppModelServices services;
    services.clock = std::make_shared<SystemClock>();
    services.settings = settings;
    services.probe = std::make_shared<SystemCallProbe>();
    services.recorderFactory = SystemAudioRecorder::factory();
    services.microphoneAuthorized = [] { return CapturePermissions::microphoneAuthorized(); };
    services.systemAudioPermission = [] { return CapturePermissions::systemAudioPermission(); };
    services.verifySystemAudio = [] { return CapturePermissions::verifyScreenAccess(); };
    return services;
}

// The tray icon: what runs, and the ways to start, stop and quit.
void installTray(QApplication& app, AppModel& model, QuitProtocol& quit) {
    auto* tray = new QSystemTrayIcon(&app);
    auto* menu = new QMenu();
    QObject::connect(&app, &QObject::destroyed, menu, [menu] { delete menu; });
    auto* status = menu->addAction(QString());
    status->setEnabled(false);
    auto* record = menu->addAction(QStringLiteral("Записать"));
    auto* stop = menu->addAction(QStringLiteral("Завершить запись"));
    menu->addSeparator();
    auto* quitAction = menu->addAction(QStringLiteral("Выйти"));
    quitAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));

    QPointer<AppModel> weak(&model);
    QObject::connect(record, &QAction::triggered, &model, [weak] {
        if (weak)
            weak->recordNow();
    });
    QObject::connect(stop, &QAction::triggered, &model, [weak] {
        if (weak)
            weak->stopRecording(true);
    });
    QObject::connect(quitAction, &QAction::triggered, &quit, &QuitProtocol::requestQuit);

    auto refresh = [tray, status, record, stop, weak] {
        if (!weak)
            return;
        const bool recording = weak->recordingID().has_value();
        status->setText(recording ? QString::fromStdString(clockLabel(weak->recordingSeconds()))
                                  : weak->statusTitle());
        record->setVisible(!recording);
        record->setEnabled(!weak->starting() && !weak->finalizing());
        stop->setVisible(recording);
        stop->setEnabled(!weak->finalizing());
        tray->setToolTip(recording ? QStringLiteral("Mello Parlo · ") +
                                         QString::fromStdString(clockLabel(weak->recordingSeconds()))
                                   : QStringLiteral("Mello Parlo"));
        const auto icon = recording ? QStyle::SP_MediaStop : QStyle::SP_MediaVolume;
        tray->setIcon(QApplication::style()->standardIcon(icon));
    };
    for (auto signal :
         {&AppModel::recordingIDChanged, &AppModel::recordingSecondsChanged, &AppModel::startingChanged,
          &AppModel::finalizingChanged, &AppModel::callActivityChanged, &AppModel::audioPermissionChanged,
          &AppModel::microphonePermissionChanged, &AppModel::autoEnabledChanged})
        QObject::connect(&model, signal, tray, refresh);
    refresh();
    tray->setContextMenu(menu);
    tray->show();
}

} // namespace

int runApplication(QApplication& app, bool preview) {
    QApplication::setOrganizationName(QStringLiteral("fernwick"));
    QApplication::setApplicationName(QStringLiteral("parlo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Mello Parlo"));
    // The application lives in the tray: closing its window never quits it.
    QApplication::setQuitOnLastWindowClosed(false);

    QSettings settings;
    AppModel model(preview, realServices(&settings));
    QuitProtocol quit(&model);
    quit.installSignalHandlers();
    QObject::connect(&quit, &QuitProtocol::finished, &app,
                     [](int status) { QCoreApplication::exit(status); });
    // The desktop session ending: stop and save like any other quit.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &quit,
                     [&quit](QSessionManager&) { quit.requestQuit(); });

    installTray(app, model, quit);
    return app.exec();
}

} // namespace parlo
