// Keeping what was recorded when things go wrong: the salvage at start-up of captures that ended with
// the process, "Восстановить запись" after a failed mix, and the warning while a disk refuses the
// tracks. Every path finalizes with the recorder's own RecordingFinalizer and removes the raw tracks
// only after the library naming the mixed file has been saved.
#include "model/AppModel.h"
#include "model/UploadQueue.h"

#include "capture/RecordingFinalizer.h"
#include "core/OffThread.h"
#include "core/ParloError.h"
#include "library/LocalStore.h"
#include "model/FailureText.h"
#include "model/ModelTexts.h"

#include <QDebug>

#include <algorithm>
#include <utility>

namespace parlo {

namespace {

std::filesystem::path folderOf(const LocalRecording& item) {
    return LocalStore::recordingsFolder() / item.folderName.value_or(std::string());
}

} // namespace

void AppModel::markFinished(LocalRecording& item, const CaptureResult& result) {
    item.fileName = result.file.filename().string();
    item.duration = result.duration;
    item.status = connected_ ? RecordingStatus::local : RecordingStatus::waitingLogin;
    item.stage = connected_ ? ModelText::stageReadyToSend : ModelText::stageSignInToTranscribe;
    item.error.reset();
    // Its raw tracks go with the first save that names the mixed file (see persist).
    tracksAwaitingSave_.push_back(item.id);
}

void AppModel::removeSavedTracks() {
    for (const Uuid& id : std::exchange(tracksAwaitingSave_, {})) {
        const LocalRecording* item = find(id);
        if (!item || !item->fileName || !item->folderName ||
            !RecordingFinalizer::hasRawTracks(folderOf(*item)))
            continue;
        try {
            RecordingFinalizer::removeRawTracks(folderOf(*item));
        } catch (const std::exception& error) {
            // Harmless: the entry already plays; the tracks only take space.
            qWarning().noquote() << "Mello Parlo:" << QString::fromUtf8(error.what());
        }
    }
}

void AppModel::reportWriteFailure(std::error_code error) {
    if (!recordingID_)
        return;
    qWarning().noquote() << "Mello Parlo: a track write failed:" << QString::fromStdString(error.message());
    if (writeFailure_)
        return; // the first failure of a recording warns; the card keeps showing it
    writeFailure_ = error;
    const QString warning = trackWriteWarning(error);
    assign(recordingWarning_, std::optional<QString>(warning), &AppModel::recordingWarningChanged);
    Q_EMIT notificationRequested(warning);
}

bool AppModel::canRestore(const LocalRecording& recording) const {
    if (isPreview_ || !services_.codec || recording.fileName || !recording.folderName ||
        recording.status != RecordingStatus::error || recording.id == recordingID_ ||
        std::find(finalizingEntries_.begin(), finalizingEntries_.end(), recording.id) !=
            finalizingEntries_.end())
        return false;
    return RecordingFinalizer::hasRawTracks(folderOf(recording));
}

QCoro::Task<AppModel::Finalized> AppModel::finalizeEntry(Uuid id) {
    LocalRecording* item = find(id);
    if (!item || !canRestore(*item))
        co_return Finalized::failed;
    const std::filesystem::path folder = folderOf(*item);
    finalizingEntries_.push_back(id);
    item->stage = ModelText::stageRestoring;
    Q_EMIT itemsChanged();
    QPointer<AppModel> self(this);

    std::optional<CaptureResult> result;
    std::exception_ptr failure;
    try {
        auto finalizing = onOwnThread(
            [folder, codec = services_.codec] { return RecordingFinalizer::finalize(folder, *codec); });
        result = co_await finalizing;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return Finalized::failed;
    std::erase(finalizingEntries_, id);

    Finalized outcome = Finalized::failed;
    if (LocalRecording* fresh = find(id)) {
        if (result) {
            markFinished(*fresh, *result);
            Q_EMIT itemsChanged();
            outcome = persist() ? Finalized::saved : Finalized::unsaved;
        } else {
            fresh->status = RecordingStatus::error;
            fresh->stage = ModelText::stageNeedsCheck;
            fresh->error = failureSentence(failure, FailedStep::recordingMix).toStdString();
            Q_EMIT itemsChanged();
            persist();
        }
    }
    Q_EMIT operationSettled();
    co_return outcome;
}

QCoro::Task<> AppModel::salvageInterrupted() {
    std::vector<Uuid> salvageable;
    bool changed = false;
    for (LocalRecording& item : items_) {
        if (!LocalStore::wasInterrupted(item))
            continue;
        if (canRestore(item)) {
            salvageable.push_back(item.id);
        } else if (!item.folderName || !RecordingFinalizer::hasRawTracks(folderOf(item))) {
            // The restart text promises raw tracks; without them it would be false.
            item.stage = ModelText::stageNeedsCheck;
            item.error = ModelText::interruptedWithoutSound;
            changed = true;
        }
    }
    if (changed) {
        Q_EMIT itemsChanged();
        persist();
    }
    QPointer<AppModel> self(this);
    int restored = 0;
    bool unsaved = false;
    // One after another: each mix already keeps a core busy.
    for (const Uuid& id : salvageable) {
        const Finalized outcome = co_await finalizeEntry(id);
        if (!self)
            co_return;
        restored += outcome != Finalized::failed;
        unsaved = unsaved || outcome == Finalized::unsaved;
    }
    if (restored == 0)
        co_return;
    if (!unsaved) // a failed save's notice stays the one shown
        setMessage(QString::fromUtf8(ModelText::interruptedRestored).arg(restored));
    queue_->schedule();
}

QCoro::Task<> AppModel::restoreRecording(Uuid id) {
    if (quitting_)
        co_return;
    const LocalRecording* item = find(id);
    if (!item || !canRestore(*item))
        co_return;
    QPointer<AppModel> self(this);
    const Finalized outcome = co_await finalizeEntry(id);
    if (!self)
        co_return;
    if (outcome == Finalized::failed) {
        if (const LocalRecording* fresh = find(id); fresh && fresh->error)
            setMessage(QString::fromStdString(*fresh->error));
        co_return;
    }
    if (outcome == Finalized::saved) // a failed save's notice stays the one shown
        setMessage(QString::fromUtf8(ModelText::restored));
    queue_->schedule();
}

} // namespace parlo
