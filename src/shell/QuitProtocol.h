#pragma once

#include <QObject>
#include <QPointer>

class QSocketNotifier;

namespace parlo {

class AppModel;

// Every way out of the application (the menu, the desktop session ending, SIGTERM, SIGINT, SIGHUP)
// runs the model's quit(): a running recording is stopped and saved, the library is written, and
// only then does the event loop end. Signals reach the event loop through a self-pipe, the only
// thing that is safe to do inside a signal handler. Further requests while one runs are ignored, so
// a second Ctrl+C cannot cut the stop short.
class QuitProtocol : public QObject {
    Q_OBJECT
public:
    explicit QuitProtocol(AppModel* model, QObject* parent = nullptr);
    ~QuitProtocol() override;

    // Installs the handlers for SIGTERM, SIGINT and SIGHUP. Returns false if the pipe failed.
    bool installSignalHandlers();

    // Starts the quit sequence once; later calls do nothing.
    void requestQuit();
    bool quitting() const { return quitting_; }

Q_SIGNALS:
    // Everything is saved; the process may end with this status.
    void finished(int status);

private:
    void readSignal();

    QPointer<AppModel> model_;
    QSocketNotifier* notifier_ = nullptr;
    bool quitting_ = false;
};

} // namespace parlo
