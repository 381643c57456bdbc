#pragma once

#include "core/Clock.h"
#include "library/DeletedMeetings.h"
#include "library/LocalRecording.h"
#include "server/ServerClient.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>
#include <vector>

namespace parlo {

// Gets recordings transcribed without the user's help: the queue sends every recording that has
// audio and no meeting yet, one at a time, and the synchronization copies the service's view of
// every meeting into the library. Owned by the model, which it reaches only through Owner; lives on
// the main thread.
//
// The two never overlap on purpose: a list that already holds the meeting being uploaded would meet
// a recording that does not know its meeting yet. Should they overlap anyway (a login's
// synchronization), a listed meeting is matched to its recording by the client id sent with it.
class UploadQueue : public QObject {
    Q_OBJECT
public:
    // What the queue needs from the model that owns it.
    struct Owner {
        // The library, edited in place; the model keeps it alive as long as the queue.
        std::vector<LocalRecording>& items;
        // Whether a session is open.
        std::function<bool()> connected;
        // After a failed request: the session stays open only while the client still holds its token.
        std::function<void()> recheckSession;
        // The library changed in memory.
        std::function<void()> itemsChanged;
        // Writes the library to disk; a failure becomes the model's notice.
        std::function<void()> persist;
        // Shows a notice.
        std::function<void(const QString&)> notify;
        // The recording the user looks at; a synchronization completes its detail.
        std::function<std::optional<Uuid>()> selection;
    };

    UploadQueue(ServerClient& client, Clock& clock, Owner owner, QObject* parent = nullptr);

    // Sending a recording now (or waiting for the service's first answer about it).
    bool running() const { return running_; }
    // Starts sending when there is a session, something to send, no synchronization under way and
    // no pause after a failure.
    void schedule();
    // The model's tick: synchronizes when due (often while the service works on a recording) and
    // schedules the queue once a failure's pause is over.
    QCoro::Task<> tick();
    // Copies the service's list into the library. A failure is silent: the next tick tries again.
    QCoro::Task<> synchronize();
    // Fetches one recording's result; a failure becomes the notice.
    QCoro::Task<> loadDetail(const Uuid& id);
    // Sends a recording that failed to send again, at once.
    void retry(const Uuid& id);
    // Aborts the running upload and waits until its failure step has run.
    QCoro::Task<> cancel();
    // Meetings the user deleted here, which the synchronization must not bring back.
    DeletedMeetings& deletedMeetings() { return deletedMeetings_; }

Q_SIGNALS:
    void runningChanged();

private:
    QCoro::Task<> run();
    void setRunning(bool running);
    LocalRecording* find(const Uuid& id);

    ServerClient& client_;
    Clock& clock_;
    Owner owner_;
    bool running_ = false;
    bool cancelled_ = false;
    // A failed upload pauses the queue until then (or until retry()).
    QDateTime nextAttempt_;
    QDateTime lastSync_;
    bool syncInProgress_ = false;
    DeletedMeetings deletedMeetings_;
};

} // namespace parlo
