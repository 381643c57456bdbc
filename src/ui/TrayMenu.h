#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace parlo {

class AppModel;

// The tray icon and its menu: the quick control of the application without its window. The menu is
// a plain QMenu rebuilt from the model's fields whenever one of them changes; the icon's label is
// "Mello" with the application's mark, or the running clock with a red record mark while a
// recording runs. The desktop shows the label's text as the tooltip (a tray icon has no title).
//
// Besides the menu, it tells the desktop (a freedesktop notification through the tray) when a
// recording starts or stops by itself, so nobody is recorded without knowing it, and passes on the
// model's own notifications (a disk that stops taking the recording).
class TrayMenu : public QObject {
    Q_OBJECT
public:
    explicit TrayMenu(AppModel& model, QObject* parent = nullptr);
    ~TrayMenu() override;

    QMenu* menu() const { return menu_.get(); }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    // The "Завершить Mello Parlo" action, whose Ctrl+Q the main window shares.
    QAction* quitAction() const { return quit_; }

    // The label: "Mello" while no recording runs, else the running time.
    QString labelTitle() const;
    // Whether the icon is the red record mark.
    bool showsRecordMark() const;

    // The application's mark (also the windows' icon and the installed desktop entry's).
    static QIcon applicationIcon();

    // Shows the icon in the desktop's tray, now or when one appears; the application runs on without.
    void show();

Q_SIGNALS:
    // "Открыть приложение" or "Настройки…": bring up the main window in front of other applications.
    void openWindowRequested();
    // "Завершить Mello Parlo" (Ctrl+Q): run the quit protocol.
    void quitRequested();
    // Every notification sent (or that would have been, without a tray).
    void notified(const QString& title, const QString& body);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void recordingChanged();
    void startingChanged();
    void notify(const QString& title, const QString& body);

    AppModel& model_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* tray_ = nullptr;
    QIcon idleIcon_;
    QIcon recordIcon_;

    QAction* status_ = nullptr;
    QAction* autoStart_ = nullptr;
    QAction* record_ = nullptr;
    QAction* stop_ = nullptr;
    QAction* quit_ = nullptr;
    bool wasStarting_ = false;
};

} // namespace parlo
