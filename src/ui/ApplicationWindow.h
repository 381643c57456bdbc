#pragma once

#include <QObject>
#include <QPointer>

class QAction;

namespace parlo {

class AppModel;
class MainWindow;

// The application's one main window (identifier "main", "Mello Parlo", 1260 x 870) as the tray
// application holds it: created on first use, hidden rather than destroyed when the user closes it,
// and brought up again, in front of the other applications, by the tray menu. The window presents the
// settings sheet while the model asks for it and carries the application's two commands: "Добавить
// запись…" (Ctrl+O) and quitting (Ctrl+Q, shared with the tray menu).
class ApplicationWindow : public QObject {
    Q_OBJECT
public:
    explicit ApplicationWindow(AppModel& model, QObject* parent = nullptr);
    ~ApplicationWindow() override;

    // The window identifier by which the menu opens it.
    static constexpr const char* identifier = "main";

    // Brings up the window (creating it when needed), restores it from minimised and activates it.
    void open();
    // The window, or nothing before the first open().
    MainWindow* window() const { return window_; }

    // The "Добавить запись…" command (Ctrl+O).
    QAction* importAction() const { return import_; }
    // Lets Ctrl+Q work while the window has the focus; the action belongs to the caller.
    void setQuitAction(QAction* quit);

Q_SIGNALS:
    // The user closed the window (it is hidden, not destroyed).
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void create();

    AppModel& model_;
    QPointer<MainWindow> window_;
    const QObject* windowObject_ = nullptr;
    QAction* import_ = nullptr;
    QPointer<QAction> quit_;
};

} // namespace parlo
