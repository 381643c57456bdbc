#include "ui/ApplicationWindow.h"

#include "model/AppModel.h"
#include "ui/MainWindow.h"
#include "ui/SettingsPanel.h"
#include "ui/UiTexts.h"

#include <QAction>
#include <QEvent>

namespace parlo {

ApplicationWindow::ApplicationWindow(AppModel& model, QObject* parent) : QObject(parent), model_(model) {
    import_ = new QAction(QString::fromUtf8(UiText::addRecordingCommand), this);
    import_->setObjectName(QStringLiteral("importCommand"));
    import_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QObject::connect(import_, &QAction::triggered, this, [this] { model_.importAudio(); });
}

ApplicationWindow::~ApplicationWindow() {
    if (window_) {
        // No events of the window's own destruction reach the filter, where it is no MainWindow any more.
        window_->removeEventFilter(this);
        delete window_.data();
    }
}

void ApplicationWindow::setQuitAction(QAction* quit) {
    if (window_ && quit_)
        window_->removeAction(quit_);
    quit_ = quit;
    if (window_ && quit_)
        window_->addAction(quit_);
}

void ApplicationWindow::create() {
    window_ = new MainWindow(model_);
    windowObject_ = window_.data();
    window_->setProperty("windowIdentifier", QString::fromLatin1(identifier));
    // Closing the window only hides it: the application lives on in the tray, and the window comes
    // back as it was.
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    window_->setWindowTitle(QStringLiteral("Mello Parlo"));
    window_->resize(MainWindow::defaultWidth, MainWindow::defaultHeight);
    AppModel* model = &model_;
    window_->setSettingsPanelFactory([model](QWidget* parent) { return new SettingsPanel(*model, parent); });
    window_->installEventFilter(this);
    window_->addAction(import_);
    if (quit_)
        window_->addAction(quit_);
}

bool ApplicationWindow::eventFilter(QObject* watched, QEvent* event) {
    // Compared as objects: the filter may see a window that is being destroyed.
    if (watched == windowObject_ && event->type() == QEvent::Close) {
        // After the close has gone through, so the receivers see the window hidden.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (window_ && !window_->isVisible())
                    Q_EMIT closed();
            },
            Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void ApplicationWindow::open() {
    if (!window_)
        create();
    if (window_->isMinimized())
        window_->showNormal();
    else
        window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace parlo
