#include "ui/TrayMenu.h"

#include "library/LocalStore.h"
#include "model/AppModel.h"
#include "ui/Palette.h"
#include "ui/UiTexts.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

// Resources of a static library must be registered by name, outside any namespace.
static void initShellResources() {
    Q_INIT_RESOURCE(shell);
}

namespace parlo {

namespace {

QString clock(double seconds) {
    return QString::fromStdString(clockLabel(seconds));
}

// The red record mark: a filled red disc in a white ring, legible on light and dark panels alike.
QIcon recordMark() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal ring = size / 10.0;
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRectF(1, 1, size - 2, size - 2));
        painter.setBrush(Palette::recordingRed());
        painter.drawEllipse(QRectF(1 + ring, 1 + ring, size - 2 - 2 * ring, size - 2 - 2 * ring));
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

TrayMenu::TrayMenu(AppModel& model, QObject* parent)
    : QObject(parent)
    , model_(model)
    , menu_(std::make_unique<QMenu>()) {
    idleIcon_ = applicationIcon();
    recordIcon_ = recordMark();
    menu_->setObjectName(QStringLiteral("trayMenu"));

    auto* title = menu_->addAction(QStringLiteral("Mello Parlo"));
    title->setObjectName(QStringLiteral("trayTitle"));
    title->setEnabled(false);
    status_ = menu_->addAction(QString());
    status_->setObjectName(QStringLiteral("trayStatus"));
    status_->setEnabled(false);
    menu_->addSeparator();

    auto* open = menu_->addAction(QString::fromUtf8(UiText::openApplication));
    open->setObjectName(QStringLiteral("trayOpen"));
    QObject::connect(open, &QAction::triggered, this, &TrayMenu::openWindowRequested);

    autoStart_ = menu_->addAction(QString::fromUtf8(UiText::autoStart));
    autoStart_->setObjectName(QStringLiteral("trayAutoStart"));
    autoStart_->setCheckable(true);
    QObject::connect(autoStart_, &QAction::triggered, this, [this](bool on) {
        model_.setAutoEnabled(on);
        // The model may refuse (no permissions, the preview): the check mark springs back to its value.
        autoStart_->setChecked(model_.autoEnabled());
    });

    QPointer<AppModel> weak(&model_);
    record_ = menu_->addAction(QString::fromUtf8(UiText::record));
    record_->setObjectName(QStringLiteral("trayRecord"));
    QObject::connect(record_, &QAction::triggered, this, [weak] {
        if (weak)
            weak->recordNow(); // runs on its own; the menu does not wait
    });
    stop_ = menu_->addAction(QString::fromUtf8(UiText::stopRecording));
    stop_->setObjectName(QStringLiteral("trayStop"));
    // No disabled state: a second press during finalization reaches the model, which ignores it.
    QObject::connect(stop_, &QAction::triggered, this, [weak] {
        if (weak)
            weak->stopRecording(true);
    });

    auto* settings = menu_->addAction(QString::fromUtf8(UiText::settingsCommand));
    settings->setObjectName(QStringLiteral("traySettings"));
    QObject::connect(settings, &QAction::triggered, this, [this] {
        Q_EMIT openWindowRequested();
        model_.setSettingsVisible(true);
    });
    menu_->addSeparator();

    quit_ = menu_->addAction(QString::fromUtf8(UiText::quit));
    quit_->setObjectName(QStringLiteral("trayQuit"));
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(quit_, &QAction::triggered, this, &TrayMenu::quitRequested);

    // An open popup menu does not hand its actions' shortcuts to the shortcut map on every platform
    // plugin (on X11 without a window manager it does not): the menu answers Ctrl+Q itself.
    menu_->installEventFilter(this);

    tray_ = new QSystemTrayIcon(this);
    tray_->setContextMenu(menu_.get());
    // A left click opens the same menu as a right click: on most Linux panels that is what a tray
    // icon without a window of its own is expected to do.
    QObject::connect(tray_, &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger)
                             menu_->popup(QCursor::pos());
                     });

    for (auto signal :
         {&AppModel::recordingSecondsChanged, &AppModel::finalizingChanged, &AppModel::callActivityChanged,
          &AppModel::audioPermissionChanged, &AppModel::microphonePermissionChanged,
          &AppModel::autoEnabledChanged, &AppModel::checkingPermissionsChanged})
        QObject::connect(&model_, signal, this, [this] { refresh(); });
    QObject::connect(&model_, &AppModel::recordingIDChanged, this, [this] { recordingChanged(); });
    QObject::connect(&model_, &AppModel::startingChanged, this, [this] { startingChanged(); });
    // What must reach the user even with the window closed (a disk that stops taking the recording).
    QObject::connect(&model_, &AppModel::notificationRequested, this,
                     [this](const QString& text) { notify(QStringLiteral("Mello Parlo"), text); });
    // A recording that started by itself may run with nobody at the window: say so on the desktop.
    QObject::connect(&model_, &AppModel::silenceAlert, this, [this](const QString& text) {
        notify(QString::fromUtf8(UiText::checkRecordingSound), text);
    });
    refresh();
}

TrayMenu::~TrayMenu() = default;

QIcon TrayMenu::applicationIcon() {
    initShellResources();
    return QIcon(QStringLiteral(":/shell/mello-parlo.svg"));
}

QString TrayMenu::labelTitle() const {
    return model_.recordingID() ? clock(model_.recordingSeconds()) : QStringLiteral("Mello");
}

bool TrayMenu::showsRecordMark() const {
    return model_.recordingID().has_value();
}

void TrayMenu::show() {
    // On X11 shown even when no tray is there yet: a panel that starts after the application (as at
    // login) picks the icon up when it appears. Elsewhere (offscreen, or a Wayland desktop whose tray
    // goes through D-Bus) Qt has nothing to wait on, and only an available tray is worth showing in.
    if (QSystemTrayIcon::isSystemTrayAvailable() || QGuiApplication::platformName() == QStringLiteral("xcb"))
        tray_->show();
}

bool TrayMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == menu_.get() && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (QKeySequence(key->keyCombination()) == quit_->shortcut()) {
            menu_->close();
            quit_->trigger();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TrayMenu::refresh() {
    const bool recording = model_.recordingID().has_value();
    // The status line carries the running clock too: the tray has no title to show it beside the icon.
    status_->setText(recording
                         ? model_.statusTitle() + QStringLiteral(" · ") + clock(model_.recordingSeconds())
                         : model_.statusTitle());
    autoStart_->setChecked(model_.autoEnabled());
    record_->setVisible(!recording);
    record_->setText(model_.starting() ? QString::fromUtf8(UiText::startingRecording)
                                       : QString::fromUtf8(UiText::record));
    record_->setEnabled(!model_.starting() && !model_.finalizing());
    stop_->setVisible(recording);

    tray_->setIcon(recording ? recordIcon_ : idleIcon_);
    tray_->setToolTip(labelTitle() + QStringLiteral(" · ") + model_.statusTitle());
}

void TrayMenu::recordingChanged() {
    refresh();
    // A recording ends: the lifecycle is idle only when it decided the stop itself (the call was gone);
    // every stop asked for by someone (the menu, the window, quitting, switching auto-start off)
    // leaves it suppressed first.
    if (!model_.recordingID() && model_.lifecycle().phase == MeetingLifecycle::Phase::idle)
        notify(QString::fromUtf8(UiText::recordingFinishedTitle),
               QString::fromUtf8(UiText::recordingFinished));
}

void TrayMenu::startingChanged() {
    refresh();
    // A start has finished. The model marks a start by hand as a manual recording before it clears
    // `starting`, so a recording that runs in the lifecycle's own recording phase began by itself.
    const bool finished = wasStarting_ && !model_.starting();
    wasStarting_ = model_.starting();
    if (finished && model_.recordingID() && model_.lifecycle().phase == MeetingLifecycle::Phase::recording)
        notify(QString::fromUtf8(UiText::callRecordingTitle), QString::fromUtf8(UiText::callRecording));
}

void TrayMenu::notify(const QString& title, const QString& body) {
    if (tray_->isVisible() && QSystemTrayIcon::supportsMessages())
        tray_->showMessage(title, body, recordIcon_, 8000);
    Q_EMIT notified(title, body);
}

} // namespace parlo
