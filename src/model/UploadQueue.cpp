#include "model/UploadQueue.h"

#include "core/ParloError.h"
#include "library/LibraryTexts.h"
#include "library/LocalStore.h"
#include "model/ModelTexts.h"

#include <QPointer>
#include <qcoro/qcorosignal.h>

#include <algorithm>

namespace parlo {

namespace {

constexpr qint64 kBackOffMs = 30'000;

bool isUploadCandidate(const LocalRecording& item) {
    return (item.status == RecordingStatus::local || item.status == RecordingStatus::waitingLogin) &&
           !item.remoteID && item.fileName;
}

// Copies the service's view of a meeting into a recording.
void applyResult(LocalRecording& item, const ServerMeeting& meeting) {
    item.status = meeting.status;
    item.stage = meeting.stage;
    item.progress = meeting.progress;
    if (meeting.result) {
        item.duration = meeting.result->duration;
        item.result = std::make_shared<const StoredResult>(*meeting.result);
    } else {
        item.result.reset();
    }
}

} // namespace

UploadQueue::UploadQueue(ServerClient& client, Clock& clock, Owner owner, QObject* parent)
    : QObject(parent)
    , client_(client)
    , clock_(clock)
    , owner_(std::move(owner))
    , nextAttempt_(QDateTime::fromMSecsSinceEpoch(0, Qt::UTC))
    , lastSync_(nextAttempt_) {}

LocalRecording* UploadQueue::find(const Uuid& id) {
    auto it = std::find_if(owner_.items.begin(), owner_.items.end(),
                           [&](const LocalRecording& r) { return r.id == id; });
    return it == owner_.items.end() ? nullptr : &*it;
}

void UploadQueue::setRunning(bool running) {
    if (running_ == running)
        return;
    running_ = running;
    Q_EMIT runningChanged();
}

void UploadQueue::schedule() {
    std::vector<LocalRecording>& items = owner_.items;
    if (!owner_.connected() || running_ || syncInProgress_ || clock_.now() < nextAttempt_)
        return;
    if (std::none_of(items.begin(), items.end(), isUploadCandidate))
        return;
    cancelled_ = false;
    setRunning(true);
    run(); // runs on its own; holds the queue weakly
}

QCoro::Task<> UploadQueue::run() {
    QPointer<UploadQueue> self(this);
    std::vector<LocalRecording>& items = owner_.items;
    for (;;) {
        auto candidate = std::find_if(items.begin(), items.end(), isUploadCandidate);
        const std::optional<std::filesystem::path> media =
            candidate == items.end() ? std::nullopt : LocalStore::media(*candidate);
        if (!media || !owner_.connected() || cancelled_) {
            setRunning(false);
            co_return;
        }
        const Uuid id = candidate->id;
        const QString title = QString::fromStdString(candidate->title);
        const std::filesystem::path file = *media;
        candidate->status = RecordingStatus::uploading;
        candidate->stage = ModelText::stageSending;
        candidate->error.reset();
        owner_.itemsChanged();
        owner_.persist();

        std::exception_ptr failure;
        try {
            const QString remoteID = co_await client_.upload(file, title, id);
            if (!self)
                co_return;
            if (LocalRecording* item = find(id)) {
                item->remoteID = remoteID.toStdString();
                item->status = RecordingStatus::queued;
                item->stage = LibraryText::statusQueued;
                owner_.itemsChanged();
                owner_.persist();
            }
            // The meeting's state at once, so the list shows the service's stage without a wait.
            const ServerMeeting meeting = co_await client_.detail(remoteID);
            if (!self)
                co_return;
            if (LocalRecording* item = find(id)) {
                applyResult(*item, meeting);
                owner_.itemsChanged();
                owner_.persist();
            }
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (failure) {
            owner_.recheckSession();
            if (LocalRecording* item = find(id)) {
                item->status = owner_.connected() ? RecordingStatus::local : RecordingStatus::waitingLogin;
                item->stage = ModelText::stageKeptLocally;
                item->error = describeError(failure).toStdString();
                owner_.itemsChanged();
                owner_.persist();
            }
            nextAttempt_ = clock_.now().addMSecs(kBackOffMs);
            setRunning(false);
            co_return;
        }
    }
}

QCoro::Task<> UploadQueue::tick() {
    if (owner_.connected() && !running_) {
        const bool busy = std::any_of(owner_.items.begin(), owner_.items.end(), [](const LocalRecording& r) {
            return r.status == RecordingStatus::processing || r.status == RecordingStatus::queued ||
                   r.status == RecordingStatus::uploading;
        });
        const double sinceSync = static_cast<double>(lastSync_.msecsTo(clock_.now())) / 1000.0;
        if (sinceSync > (busy ? 4.0 : 20.0)) {
            QPointer<UploadQueue> self(this);
            co_await synchronize();
            if (!self)
                co_return;
        }
    }
    if (clock_.now() >= nextAttempt_)
        schedule();
}

QCoro::Task<> UploadQueue::synchronize() {
    if (!owner_.connected() || syncInProgress_)
        co_return;
    syncInProgress_ = true;
    lastSync_ = clock_.now();
    QPointer<UploadQueue> self(this);
    std::vector<LocalRecording>& items = owner_.items;
    const std::vector<LocalRecording> before = items;
    try {
        const std::vector<ServerMeeting> meetings = co_await client_.list();
        if (!self)
            co_return;
        for (const ServerMeeting& meeting : meetings) {
            // Deleted here by the user; the service keeps its copy.
            if (deletedMeetings_.contains(meeting.id))
                continue;
            auto match = std::find_if(items.begin(), items.end(),
                                      [&](const LocalRecording& r) { return r.remoteID == meeting.id; });
            // A meeting whose upload has not answered yet (a synchronization overlapping the queue)
            // is the recording it came from, not a new one.
            if (match == items.end() && meeting.clientID) {
                match = std::find_if(items.begin(), items.end(), [&](const LocalRecording& r) {
                    return !r.remoteID && r.id == *meeting.clientID;
                });
                if (match != items.end())
                    match->remoteID = meeting.id;
            }
            if (match == items.end()) {
                LocalRecording item;
                item.id = Uuid::random();
                item.title = meeting.title;
                item.created = meeting.created - kUnixTimeOfLibraryEpoch;
                item.status = meeting.status;
                item.stage = meeting.stage;
                item.progress = meeting.progress;
                item.error = meeting.error;
                item.remoteID = meeting.id;
                item.source = ModelText::account;
                items.push_back(std::move(item));
                continue;
            }
            const Uuid id = match->id;
            match->status = meeting.status;
            match->stage = meeting.stage;
            match->progress = meeting.progress;
            match->error = meeting.error;
            if (meeting.status == RecordingStatus::done && !match->result) {
                const ServerMeeting full = co_await client_.detail(QString::fromStdString(meeting.id));
                if (!self)
                    co_return;
                if (LocalRecording* item = find(id)) {
                    if (full.result) {
                        item->duration = full.result->duration;
                        item->result = std::make_shared<const StoredResult>(*full.result);
                    } else {
                        item->duration.reset();
                        item->result.reset();
                    }
                }
            }
        }
    } catch (const std::exception&) {
        if (!self)
            co_return;
        // Silent: the next tick tries again. What changed in memory is saved by the next save.
        if (items != before)
            owner_.itemsChanged();
        owner_.recheckSession();
        syncInProgress_ = false;
        co_return;
    }
    // Saving a large library every few seconds while nothing changed would write gigabytes an hour:
    // the file is written only when the synchronization changed something.
    if (items != before) {
        owner_.itemsChanged();
        owner_.persist();
    }
    if (const std::optional<Uuid> selection = owner_.selection()) {
        const LocalRecording* current = find(*selection);
        if (current && current->status == RecordingStatus::done && !current->result) {
            co_await loadDetail(*selection);
            if (!self)
                co_return;
        }
    }
    syncInProgress_ = false;
}

void UploadQueue::retry(const Uuid& id) {
    if (LocalRecording* item = find(id); item && !item->remoteID && item->fileName) {
        item->status = RecordingStatus::local;
        item->error.reset();
        owner_.itemsChanged();
    }
    owner_.persist();
    nextAttempt_ = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    schedule();
}

QCoro::Task<> UploadQueue::loadDetail(const Uuid& id) {
    LocalRecording* item = find(id);
    if (!item || !item->remoteID || !owner_.connected())
        co_return;
    const QString remoteID = QString::fromStdString(*item->remoteID);
    QPointer<UploadQueue> self(this);
    ServerMeeting meeting;
    try {
        meeting = co_await client_.detail(remoteID);
    } catch (...) {
        if (self)
            owner_.notify(describeError(std::current_exception()));
        co_return;
    }
    if (!self)
        co_return;
    if (LocalRecording* fresh = find(id)) {
        const LocalRecording previous = *fresh;
        applyResult(*fresh, meeting);
        if (!meeting.result)
            fresh->duration.reset();
        if (!(*fresh == previous)) {
            owner_.itemsChanged();
            owner_.persist();
        }
    }
}

QCoro::Task<> UploadQueue::cancel() {
    if (!running_)
        co_return;
    // The upload is aborted; its failure step runs before this returns.
    cancelled_ = true;
    client_.cancelAll();
    QPointer<UploadQueue> self(this);
    while (self && running_)
        co_await qCoro(this, &UploadQueue::runningChanged);
}

} // namespace parlo
