#pragma once

#include <QObject>
#include <QPointer>

#include <chrono>
#include <optional>

class QSocketNotifier;

namespace parlo {

class AppModel;

// How the process answers a run of termination signals. The first starts the quit protocol. The
// second never cuts it short: a session manager or a supervisor that repeats SIGTERM must not lose
// the recording being saved. A later one that follows the signal before it within `hurry` ends the
// process at once: that is someone at a terminal pressing Ctrl+C again and again, and what they
// give up is little, because the raw tracks and the library entry are on disk all along and the
// next start finalizes the recording from them (the crash salvage).
class SignalCounter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds hurry{3};
    enum class Response { quit, wait, endNow };

    Response onSignal(Clock::time_point now);

private:
    int count_ = 0;
    std::optional<Clock::time_point> previous_;
};

// Every way out of the application (the menu, the desktop session ending, SIGTERM, SIGINT, SIGHUP)
// runs the model's quit(): whatever is starting, stopping or being finalized settles, a running
// recording is stopped and saved, the library is written, and only then does the event loop end.
// Signals reach the event loop through a self-pipe, the only thing that is safe to do inside a
// signal handler; SignalCounter decides what each one does.
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
    SignalCounter signals_;
    bool quitting_ = false;
};

} // namespace parlo
