// Getting recordings transcribed without the user's help: the upload queue sends every recording
// that has audio and no meeting yet, one at a time, and the synchronization copies the service's
// view of every meeting into the library.
#include "model/AppModel.h"

#include "core/ParloError.h"
#include "library/LocalStore.h"

#include <QSaveFile>

#include <algorithm>

namespace parlo {

namespace {

constexpr qint64 kBackOffMs = 30'000;

bool isUploadCandidate(const LocalRecording& item) {
    return (item.status == RecordingStatus::local || item.status == RecordingStatus::waitingLogin) &&
           !item.remoteID && item.fileName;
}

} // namespace

void AppModel::applyResult(LocalRecording& item, const ServerMeeting& meeting) {
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

void AppModel::setUploading(bool running) {
    assign(queueRunning_, running, &AppModel::uploadingChanged);
}

void AppModel::scheduleUploads() {
    if (!connected_ || queueRunning_ || syncInProgress_ || services_.clock->now() < nextAttempt_)
        return;
    if (std::none_of(items_.begin(), items_.end(), isUploadCandidate))
        return;
    queueCancelled_ = false;
    setUploading(true);
    runQueue(); // runs on its own; holds the model weakly
}

QCoro::Task<> AppModel::runQueue() {
    QPointer<AppModel> self(this);
    for (;;) {
        auto candidate = std::find_if(items_.begin(), items_.end(), isUploadCandidate);
        const std::optional<std::filesystem::path> media =
            candidate == items_.end() ? std::nullopt : LocalStore::media(*candidate);
        if (!media || !connected_ || queueCancelled_) {
            setUploading(false);
            co_return;
        }
        const Uuid id = candidate->id;
        const QString title = QString::fromStdString(candidate->title);
        const std::filesystem::path file = *media;
        candidate->status = RecordingStatus::uploading;
        candidate->stage = "Отправляю на расшифровку";
        candidate->error.reset();
        Q_EMIT itemsChanged();
        persist();

        std::exception_ptr failure;
        try {
            const QString remoteID = co_await client_->upload(file, title, id);
            if (!self)
                co_return;
            if (LocalRecording* item = find(id)) {
                item->remoteID = remoteID.toStdString();
                item->status = RecordingStatus::queued;
                item->stage = "В очереди";
                Q_EMIT itemsChanged();
                persist();
            }
            // The meeting's state at once, so the list shows the service's stage without a wait.
            const ServerMeeting meeting = co_await client_->detail(remoteID);
            if (!self)
                co_return;
            if (LocalRecording* item = find(id)) {
                applyResult(*item, meeting);
                Q_EMIT itemsChanged();
                persist();
            }
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (failure) {
            assign(connected_, client_->hasToken(), &AppModel::connectedChanged);
            if (LocalRecording* item = find(id)) {
                item->status = connected_ ? RecordingStatus::local : RecordingStatus::waitingLogin;
                item->stage = "Запись остаётся на этом компьютере";
                item->error = describeError(failure).toStdString();
                Q_EMIT itemsChanged();
                persist();
            }
            nextAttempt_ = services_.clock->now().addMSecs(kBackOffMs);
            setUploading(false);
            co_return;
        }
    }
}

QCoro::Task<> AppModel::synchronize() {
    if (!connected_ || syncInProgress_)
        co_return;
    syncInProgress_ = true;
    lastSync_ = services_.clock->now();
    QPointer<AppModel> self(this);
    const std::vector<LocalRecording> before = items_;
    try {
        const std::vector<ServerMeeting> meetings = co_await client_->list();
        if (!self)
            co_return;
        for (const ServerMeeting& meeting : meetings) {
            // Deleted here by the user; the service keeps its copy.
            if (deletedMeetings_.contains(meeting.id))
                continue;
            auto match = std::find_if(items_.begin(), items_.end(),
                                      [&](const LocalRecording& r) { return r.remoteID == meeting.id; });
            // A meeting whose upload has not answered yet (a synchronization overlapping the queue)
            // is the recording it came from, not a new one.
            if (match == items_.end() && meeting.clientID) {
                match = std::find_if(items_.begin(), items_.end(), [&](const LocalRecording& r) {
                    return !r.remoteID && r.id == *meeting.clientID;
                });
                if (match != items_.end())
                    match->remoteID = meeting.id;
            }
            if (match == items_.end()) {
                LocalRecording item;
                item.id = Uuid::random();
                item.title = meeting.title;
                item.created = meeting.created - kUnixTimeOfLibraryEpoch;
                item.status = meeting.status;
                item.stage = meeting.stage;
                item.progress = meeting.progress;
                item.error = meeting.error;
                item.remoteID = meeting.id;
                item.source = "Личный кабинет";
                items_.push_back(std::move(item));
                continue;
            }
            const Uuid id = match->id;
            match->status = meeting.status;
            match->stage = meeting.stage;
            match->progress = meeting.progress;
            match->error = meeting.error;
            if (meeting.status == RecordingStatus::done && !match->result) {
                const ServerMeeting full = co_await client_->detail(QString::fromStdString(meeting.id));
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
        if (items_ != before)
            Q_EMIT itemsChanged();
        assign(connected_, client_->hasToken(), &AppModel::connectedChanged);
        syncInProgress_ = false;
        co_return;
    }
    // Saving a large library every few seconds while nothing changed would write gigabytes an hour:
    // the file is written only when the synchronization changed something.
    if (items_ != before) {
        Q_EMIT itemsChanged();
        persist();
    }
    if (std::optional<LocalRecording> current = selected();
        current && current->status == RecordingStatus::done && !current->result) {
        co_await loadDetail(current->id);
        if (!self)
            co_return;
    }
    syncInProgress_ = false;
}

void AppModel::retry(const Uuid& id) {
    if (LocalRecording* item = find(id); item && !item->remoteID && item->fileName) {
        item->status = RecordingStatus::local;
        item->error.reset();
        Q_EMIT itemsChanged();
    }
    persist();
    nextAttempt_ = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    scheduleUploads();
}

QCoro::Task<> AppModel::loadDetail(const Uuid& id) {
    LocalRecording* item = find(id);
    if (!item || !item->remoteID || !connected_)
        co_return;
    const QString remoteID = QString::fromStdString(*item->remoteID);
    QPointer<AppModel> self(this);
    ServerMeeting meeting;
    try {
        meeting = co_await client_->detail(remoteID);
    } catch (...) {
        if (self)
            setMessage(describeError(std::current_exception()));
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
            Q_EMIT itemsChanged();
            persist();
        }
    }
}

QCoro::Task<> AppModel::exportRecording(const Uuid& id, QString format) {
    const LocalRecording* item = find(id);
    if (!item || !item->remoteID || !services_.chooseExportFile)
        co_return;
    const QString remoteID = QString::fromStdString(*item->remoteID);
    const std::optional<QString> destination =
        services_.chooseExportFile(QStringLiteral("Mello Parlo.") + format, format);
    if (!destination)
        co_return;
    QPointer<AppModel> self(this);
    QByteArray bytes;
    try {
        bytes = co_await client_->exportMeeting(remoteID, format);
    } catch (...) {
        if (self)
            setMessage(describeError(std::current_exception()));
        co_return;
    }
    if (!self)
        co_return;
    QSaveFile file(*destination);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        setMessage(file.errorString());
}

} // namespace parlo
