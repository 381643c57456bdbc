#include "model/AppModel.h"
#include "model/UploadQueue.h"

#include "capture/CaptureTexts.h"
#include "capture/RecordingFinalizer.h"
#include "core/ParloError.h"
#include "library/LibraryTexts.h"
#include "library/LocalStore.h"
#include "model/FailureText.h"
#include "model/LoginAutostart.h"
#include "model/ModelTexts.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QTimer>
#include <qcoro/qcorosignal.h>

#include <algorithm>

namespace parlo {

namespace {

const char* const kAutoStartKey = "automaticCallRecording";
// Set once start at login has been suggested, so turning auto-start on again does not repeat it.
const char* const kStartAtLoginOfferedKey = "offeredStartAtLogin";
constexpr int kTickIntervalMs = 800;
constexpr double kRecordingLimitSeconds = 7200;
constexpr qint64 kLibraryRetryMs = 10'000;

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

} // namespace

AppModel::AppModel(bool preview, AppModelServices services, QObject* parent)
    : QObject(parent)
    , isPreview_(preview)
    , services_(std::move(services)) {
    if (!services_.clock)
        services_.clock = std::make_shared<SystemClock>();
    started_ = services_.clock->now();
    // The preview never stores or reads a session.
    const bool remember = !isPreview_ && services_.rememberSession;
    ServerClientOptions options = services_.server.value_or(ServerClientOptions::fromEnvironment());
    if (options.scratchFolder.empty())
        options.scratchFolder = LocalStore::root();
    if (isPreview_)
        options.secretStore.reset();
    client_ = new ServerClient(remember, std::move(options), this);
    queue_ = std::make_unique<UploadQueue>(
        *client_, *services_.clock,
        UploadQueue::Owner{
            .items = items_,
            .connected = [this] { return connected_; },
            .recheckSession =
                [this] { assign(connected_, client_->hasToken(), &AppModel::connectedChanged); },
            .itemsChanged = [this] { Q_EMIT itemsChanged(); },
            .persist = [this] { persist(); },
            .notify = [this](const QString& text) { setMessage(text); },
            .selection = [this] { return selection_; },
        });
    connect(queue_.get(), &UploadQueue::runningChanged, this, &AppModel::uploadingChanged);

    if (isPreview_) {
        // The preview shows the synthetic fixture: it reads no library and no settings, starts no
        // timer and no task, so nothing is probed, captured or sent on its own initiative.
        microphonePermission_ = true;
        audioPermission_ = true;
        loadPreviewFixture();
        return;
    }

    refreshPermissionMirrors();
    try {
        LocalStore::prepare();
    } catch (const std::exception&) {
        // The next save tries again and reports.
    }
    loadLibrary();
    queue_->deletedMeetings() = DeletedMeetings::load();
    startTranscriptSearch();
    if (services_.settings)
        autoEnabled_ = services_.settings->value(QString::fromLatin1(kAutoStartKey), false).toBool();
    startAtLogin_ = LoginAutostart::enabled();
    startTickTimer();
    startUp();
    salvageInterrupted(); // runs on its own, off the main thread; holds the model weakly
}

QCoro::Task<> AppModel::startUp() {
    QPointer<AppModel> self(this);
    if (!client_->isSecure()) {
        // A deployment mistake the user must hear of: recording goes on, nothing is sent.
        setMessage(QString::fromUtf8(ServerText::insecureBase));
        co_return;
    }
    bool session = co_await client_->checkSession();
    if (!self)
        co_return;
    // A login that finished while the check was under way wins over the check's older answer.
    session = session || client_->hasToken();
    assign(connected_, session, &AppModel::connectedChanged);
    if (!session)
        co_return;
    co_await synchronize();
    if (!self)
        co_return;
    queue_->schedule();
}

AppModel::~AppModel() = default;

bool AppModel::uploading() const {
    return queue_->running();
}

QCoro::Task<> AppModel::synchronize() {
    return queue_->synchronize();
}

QCoro::Task<> AppModel::loadDetail(const Uuid& id) {
    return queue_->loadDetail(id);
}

void AppModel::retry(const Uuid& id) {
    queue_->retry(id);
}

void AppModel::startTickTimer() {
    auto* timer = new QTimer(this);
    timer->setInterval(kTickIntervalMs);
    QPointer<AppModel> weak(this);
    connect(timer, &QTimer::timeout, this, [weak] {
        if (weak)
            weak->tick();
    });
    timer->start();
    tickTimer_ = timer;
}

void AppModel::loadPreviewFixture() {
    QFile file(QStringLiteral(":/PreviewResult.json"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    ServerMeeting meeting;
    try {
        meeting =
            decodeServerMeeting(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    } catch (const std::exception&) {
        return;
    }
    LocalRecording record;
    record.id = Uuid::random();
    record.title = ModelText::previewTitle;
    record.created = toLibraryTime(services_.clock->now());
    record.status = RecordingStatus::done;
    record.stage = LibraryText::statusDone;
    record.progress = 100;
    if (meeting.result) {
        record.duration = meeting.result->duration;
        record.result = std::make_shared<const StoredResult>(std::move(*meeting.result));
    }
    record.source = ModelText::previewSource;
    selection_ = record.id;
    items_.push_back(std::move(record));
}

void AppModel::refreshPermissionMirrors() {
    assign(microphonePermission_, services_.microphoneAuthorized ? services_.microphoneAuthorized() : false,
           &AppModel::microphonePermissionChanged);
    assign(audioPermission_, services_.systemAudioPermission ? services_.systemAudioPermission() : false,
           &AppModel::audioPermissionChanged);
}

void AppModel::setItems(std::vector<LocalRecording> items) {
    items_ = std::move(items);
    Q_EMIT itemsChanged();
}

LocalRecording* AppModel::find(const Uuid& id) {
    auto it = std::find_if(items_.begin(), items_.end(), [&](const LocalRecording& r) { return r.id == id; });
    return it == items_.end() ? nullptr : &*it;
}

void AppModel::loadLibrary() {
    lastLibraryRetry_ = services_.clock->now();
    try {
        std::string damagedFileKeptAs;
        items_ = LocalStore::load(&damagedFileKeptAs);
        libraryUnreadable_ = false;
        reportDamagedLibrary(damagedFileKeptAs);
    } catch (...) {
        // An empty list saved over a library that is merely unreadable now would destroy it.
        libraryUnreadable_ = true;
        setMessage(failureSentence(std::current_exception(), FailedStep::libraryRead));
    }
}

void AppModel::reportDamagedLibrary(const std::string& keptAs) {
    if (!keptAs.empty())
        setMessage(QString::fromUtf8(ModelText::libraryDamaged).arg(QString::fromStdString(keptAs)));
}

std::exception_ptr AppModel::rereadLibrary() {
    lastLibraryRetry_ = services_.clock->now();
    std::vector<LocalRecording> loaded;
    std::string damagedFileKeptAs;
    try {
        loaded = LocalStore::load(&damagedFileKeptAs);
    } catch (...) {
        return std::current_exception();
    }
    reportDamagedLibrary(damagedFileKeptAs);
    // What this run added while the file could not be read goes in front of what the file holds;
    // what the synchronization made of meetings the file already knows is dropped: the next
    // synchronization brings them up to date.
    std::vector<LocalRecording> merged;
    for (const LocalRecording& item : items_) {
        const bool known = std::any_of(loaded.begin(), loaded.end(), [&](const LocalRecording& r) {
            return r.id == item.id || (item.remoteID && r.remoteID == item.remoteID);
        });
        if (!known)
            merged.push_back(item);
    }
    merged.insert(merged.end(), std::make_move_iterator(loaded.begin()),
                  std::make_move_iterator(loaded.end()));
    libraryUnreadable_ = false;
    setItems(std::move(merged));
    salvageInterrupted();
    return nullptr;
}

bool AppModel::persist() {
    // The preview's list is a fixture: it is never written over the user's library.
    if (isPreview_)
        return false;
    if (libraryUnreadable_) {
        if (std::exception_ptr failure = rereadLibrary()) {
            setMessage(failureSentence(failure, FailedStep::libraryRead));
            return false;
        }
    }
    try {
        LocalStore::save(items_);
        removeSavedTracks();
        return true;
    } catch (...) {
        setMessage(failureSentence(std::current_exception(), FailedStep::librarySave));
        return false;
    }
}

void AppModel::setSelection(std::optional<Uuid> value) {
    assign(selection_, value, &AppModel::selectionChanged);
}
void AppModel::setMessage(std::optional<QString> value) {
    // Every notice replaces the previous one, even when the text is the same.
    message_ = std::move(value);
    Q_EMIT messageChanged();
}
void AppModel::setSettingsVisible(bool value) {
    assign(settingsVisible_, value, &AppModel::settingsVisibleChanged);
}
void AppModel::setSearch(const QString& value) {
    assign(search_, value, &AppModel::searchChanged);
}
void AppModel::setPassword(const QString& value) {
    assign(password_, value, &AppModel::passwordChanged);
}
void AppModel::setPlaybackPosition(double value) {
    assign(playbackPosition_, value, &AppModel::playbackPositionChanged);
}

std::optional<LocalRecording> AppModel::selected() const {
    if (!selection_)
        return std::nullopt;
    for (const LocalRecording& item : items_)
        if (item.id == *selection_)
            return item;
    return std::nullopt;
}

std::vector<LocalRecording> AppModel::filteredItems() const {
    std::vector<LocalRecording> kept;
    kept.reserve(items_.size());
    for (const LocalRecording& item : items_) {
        if (search_.isEmpty() || text(item.title).contains(search_, Qt::CaseInsensitive))
            kept.push_back(item);
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const LocalRecording& a, const LocalRecording& b) { return a.created > b.created; });
    return kept;
}

QString AppModel::statusTitle() const {
    if (finalizing_)
        return QString::fromUtf8(ModelText::stateSaving);
    if (recordingID_)
        return QString::fromUtf8(ModelText::stateRecording);
    if (checkingPermissions_)
        return QString::fromUtf8(ModelText::stateCheckingAccess);
    if (!audioPermission_ || !microphonePermission_)
        return QString::fromUtf8(ModelText::stateNeedsAccess);
    if (starting_)
        return QString::fromUtf8(ModelText::stateStarting);
    if (!autoEnabled_)
        return QString::fromUtf8(ModelText::stateReady);
    if (!callActivity_.probeAvailable)
        return QString::fromUtf8(ModelText::stateAutoStartUnavailable);
    if (callActivity_.active)
        return QString::fromUtf8(ModelText::stateCallDetected);
    return QString::fromUtf8(ModelText::stateWaitingForCall);
}

std::optional<QString> AppModel::recordingHint() const {
    if (recordingID_ || starting_ || !audioPermission_ || !microphonePermission_)
        return std::nullopt;
    return QString::fromUtf8(ModelText::recordingHint);
}

void AppModel::setAutoEnabled(bool on) {
    if (isPreview_) {
        setMessage(QString::fromUtf8(ModelText::previewNoRecording));
        return;
    }
    if (on) {
        const bool microphone = services_.microphoneAuthorized && services_.microphoneAuthorized();
        const bool system = services_.systemAudioPermission && services_.systemAudioPermission();
        if (!microphone || !system) {
            setMessage(QString::fromUtf8(ModelText::autoStartNeedsAccess));
            setSettingsVisible(true);
            return;
        }
    }
    assign(autoEnabled_, on, &AppModel::autoEnabledChanged);
    if (services_.settings)
        services_.settings->setValue(QString::fromLatin1(kAutoStartKey), on);
    // A call recorder that is not running records nothing: suggest starting it at login, once.
    refreshStartAtLogin();
    if (on && !startAtLogin_ && services_.settings &&
        !services_.settings->value(QString::fromLatin1(kStartAtLoginOfferedKey), false).toBool()) {
        services_.settings->setValue(QString::fromLatin1(kStartAtLoginOfferedKey), true);
        setMessage(QString::fromUtf8(ModelText::autoStartOnlyWhileRunning));
    }
    if (!on && recordingID_ && !manualRecording_)
        stopRecording(true); // runs on its own; the model outlives it or the task checks for that
}

void AppModel::setStartAtLogin(bool on) {
    if (isPreview_) {
        setMessage(QString::fromUtf8(ModelText::previewNoLoginStart));
        return;
    }
    try {
        // The running executable's absolute path: the copy the user turned the switch on in, whatever
        // PATH the login session has.
        if (on)
            LoginAutostart::enable(QCoreApplication::applicationFilePath());
        else
            LoginAutostart::disable();
    } catch (const std::exception& error) {
        setMessage(QString::fromUtf8(on ? ModelText::loginStartNotEnabled : ModelText::loginStartNotDisabled)
                       .arg(describeError(error)));
    }
    refreshStartAtLogin();
}

void AppModel::refreshStartAtLogin() {
    if (!isPreview_)
        assign(startAtLogin_, LoginAutostart::enabled(), &AppModel::startAtLoginChanged);
}

QCoro::Task<> AppModel::tick() {
    if (ticking_)
        co_return;
    ticking_ = true;
    QPointer<AppModel> self(this);

    refreshPermissionMirrors();
    // A library that could not be read is tried again now and then: once it reads, saving resumes.
    if (libraryUnreadable_ && lastLibraryRetry_.msecsTo(services_.clock->now()) >= kLibraryRetryMs &&
        !rereadLibrary())
        persist();
    CallActivitySnapshot snapshot =
        autoEnabled_ && services_.probe ? services_.probe->snapshot() : CallActivitySnapshot::idle();
    // Stored on every tick, changed or not.
    callActivity_ = std::move(snapshot);
    Q_EMIT callActivityChanged();

    const double now = services_.clock->uptime();
    if (recordingID_) {
        const double elapsed = static_cast<double>(started_.msecsTo(services_.clock->now())) / 1000.0;
        assign(recordingSeconds_, elapsed, &AppModel::recordingSecondsChanged);
    }

    if (recordingID_)
        watchSilence();

    if (recordingSeconds_ >= kRecordingLimitSeconds && recordingID_) {
        co_await stopRecording(true);
        if (!self)
            co_return;
        // After the stop, so that this notice replaces whatever the stop reported.
        setMessage(QString::fromUtf8(ModelText::limitReached));
    }

    if (!starting_ && !finalizing_) {
        const bool enabled = autoEnabled_ && audioPermission_ && microphonePermission_;
        switch (lifecycle_.update(callActivity_.active, enabled, now)) {
        case MeetingLifecycle::Action::start:
            co_await beginRecording(true);
            break;
        case MeetingLifecycle::Action::stop:
            co_await stopRecording(false);
            break;
        case MeetingLifecycle::Action::none:
            break;
        }
        if (!self)
            co_return;
    }

    if (player_)
        mirrorPlayer();

    co_await queue_->tick();
    if (!self)
        co_return;

    ticking_ = false;
}

QCoro::Task<> AppModel::beginRecording(bool automatic) {
    if (isPreview_ || quitting_ || starting_ || recordingID_ || finalizing_)
        co_return;
    if (!microphonePermission_ || !audioPermission_) {
        setSettingsVisible(true);
        co_return;
    }
    assign(starting_, true, &AppModel::startingChanged);
    QPointer<AppModel> self(this);
    pausePlayerForRecording();

    const QDateTime startedAt = services_.clock->now();
    LocalRecording entry;
    entry.id = Uuid::random();
    const QString title = QString::fromUtf8(ModelText::recordingTitle)
                              .arg(QLocale(QLocale::Russian, QLocale::Russia)
                                       .toString(startedAt.toLocalTime(), QStringLiteral("d MMMM, HH:mm")));
    entry.title = title.toStdString();
    entry.created = toLibraryTime(startedAt);
    entry.folderName = entry.id.toString();
    entry.status = RecordingStatus::recording;
    entry.stage = ModelText::stageRecording;
    entry.source = ModelText::recordingSource;
    const Uuid id = entry.id;
    const std::filesystem::path folder = LocalStore::recordingsFolder() / *entry.folderName;
    items_.insert(items_.begin(), std::move(entry));
    Q_EMIT itemsChanged();
    setSelection(id);
    const bool savedAtStart = persist();

    std::unique_ptr<AudioRecorder> recorder;
    std::exception_ptr failure;
    try {
        if (!services_.recorderFactory)
            throw ParloError(CaptureText::notStarted);
        recorder = services_.recorderFactory();
        // The recorder calls these on its own threads: they only hop to the main thread, and hold the
        // model weakly so a late call after the model is gone does nothing.
        recorder->onLevel = [self](float system, float microphone) {
            QMetaObject::invokeMethod(
                self.data(),
                [self, system, microphone] {
                    if (!self)
                        return;
                    self->assign(self->systemLevel_, system, &AppModel::systemLevelChanged);
                    self->assign(self->microphoneLevel_, microphone, &AppModel::microphoneLevelChanged);
                    self->watchSilence();
                },
                Qt::QueuedConnection);
        };
        recorder->onWriteFailure = [self](std::error_code error) {
            QMetaObject::invokeMethod(
                self.data(),
                [self, error] {
                    if (self)
                        self->reportWriteFailure(error);
                },
                Qt::QueuedConnection);
        };
        recorder->onFailure = [self](const QString& reason) {
            QMetaObject::invokeMethod(
                self.data(),
                [self, reason] {
                    if (!self)
                        return;
                    self->setMessage(reason);
                    self->stopRecording(true);
                },
                Qt::QueuedConnection);
        };
        co_await recorder->start(folder);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;

    if (failure) {
        const QString description = failureSentence(failure, FailedStep::recordingStart);
        setMessage(description);
        if (LocalRecording* item = find(id)) {
            item->status = RecordingStatus::error;
            item->stage = ModelText::stageNotStarted;
            item->error = description.toStdString();
            Q_EMIT itemsChanged();
            persist(); // after the notice, so that a failed save is not hidden behind it
        }
        lifecycle_.phase = MeetingLifecycle::Phase::suppressed;
        lifecycle_.since = services_.clock->uptime();
        assign(starting_, false, &AppModel::startingChanged);
        Q_EMIT operationSettled();
        co_return;
    }

    capture_ = std::move(recorder);
    assign(recordingID_, std::optional<Uuid>(id), &AppModel::recordingIDChanged);
    assign(recordingSeconds_, 0.0, &AppModel::recordingSecondsChanged);
    started_ = services_.clock->now();
    manualRecording_ = !automatic;
    silence_.reset(services_.clock->uptime());
    silenceAlerted_ = false;
    if (!automatic)
        lifecycle_.phase = MeetingLifecycle::Phase::manualRecording;
    // An old notice no longer applies once a recording runs; a failed save just now still does.
    if (message_ && savedAtStart)
        setMessage(std::nullopt);
    assign(starting_, false, &AppModel::startingChanged);
    Q_EMIT operationSettled();
}

void AppModel::mirrorPlayer() {
    assign(isPlaying_, player_->isPlaying(), &AppModel::isPlayingChanged);
    assign(playbackPosition_, player_->position(), &AppModel::playbackPositionChanged);
    assign(playbackDuration_, player_->duration(), &AppModel::playbackDurationChanged);
}

void AppModel::pausePlayerForRecording() {
    // The system track is the output's monitor: it records whatever plays, our player included, and
    // the player cannot be muted for the capture alone (the sound server would remember the mute
    // for all our later playback). So the player waits while we record.
    if (!player_ || !player_->isPlaying())
        return;
    player_->pause();
    mirrorPlayer();
}

QCoro::Task<> AppModel::play(const Uuid& id, std::optional<double> at) {
    const LocalRecording* item = find(id);
    if (!item)
        co_return;
    if (recordingID_ || starting_) {
        setMessage(QString::fromUtf8(ModelText::playbackWhileRecording));
        co_return;
    }
    if (!player_) {
        if (!services_.makePlayer)
            co_return;
        player_ = services_.makePlayer(*client_);
    }
    QPointer<AppModel> self(this);
    const LocalRecording recording = *item;
    try {
        co_await player_->play(recording, at);
    } catch (...) {
        if (self)
            setMessage(describeError(std::current_exception()));
        co_return;
    }
    // A deletion may have dropped the player meanwhile.
    if (!self || !player_)
        co_return;
    playerRecording_ = recording.id;
    // A recording may have started while the audio was being fetched.
    if (recordingID_ || starting_)
        player_->pause();
    assign(isPlaying_, player_->isPlaying(), &AppModel::isPlayingChanged);
    assign(playbackDuration_, player_->duration(), &AppModel::playbackDurationChanged);
}

QCoro::Task<> AppModel::revealFiles(const Uuid& id) {
    const LocalRecording* item = find(id);
    if (!item || !item->folderName || !services_.revealFile)
        co_return;
    const std::filesystem::path path =
        LocalStore::media(*item).value_or(LocalStore::recordingsFolder() / *item->folderName);
    QPointer<AppModel> self(this);
    try {
        co_await services_.revealFile(QString::fromStdString(path.string()));
    } catch (...) {
        if (self)
            setMessage(describeError(std::current_exception()));
    }
}

void AppModel::watchSilence() {
    std::optional<QString> text;
    if (recordingID_ && !finalizing_) {
        switch (silence_.update(systemLevel_, microphoneLevel_, services_.clock->uptime())) {
        case SilenceWatch::Warning::microphone:
            text = QString::fromUtf8(ModelText::microphoneSilent);
            break;
        case SilenceWatch::Warning::systemAudio:
            text = QString::fromUtf8(ModelText::systemAudioSilent);
            break;
        case SilenceWatch::Warning::both:
            text = QString::fromUtf8(ModelText::bothSilent);
            break;
        case SilenceWatch::Warning::none:
            break;
        }
    }
    assign(silenceWarning_, text, &AppModel::silenceWarningChanged);
    if (text && !manualRecording_ && !silenceAlerted_) {
        silenceAlerted_ = true;
        Q_EMIT silenceAlert(*text);
    }
}

void AppModel::openSoundSettings() {
    if (services_.openSoundSettings && services_.openSoundSettings())
        return;
    setMessage(QString::fromUtf8(ModelText::soundSettingsUnavailable));
}

void AppModel::seek(double seconds) {
    if (!player_)
        return;
    player_->seek(seconds);
    setPlaybackPosition(seconds);
}

QCoro::Task<> AppModel::recordNow() {
    if (isPreview_) {
        setMessage(QString::fromUtf8(ModelText::previewNoRecording));
        co_return;
    }
    if (quitting_ || starting_ || recordingID_ || finalizing_)
        co_return;
    refreshPermissionMirrors();
    if (microphonePermission_ && audioPermission_) {
        co_await beginRecording(false);
        co_return;
    }
    setMessage(QString::fromUtf8(CaptureText::accessMissing));
    setSettingsVisible(true);
}

QCoro::Task<> AppModel::stopRecording(bool manual) {
    if (!recordingID_ || !capture_ || finalizing_)
        co_return;
    const Uuid id = *recordingID_;
    assign(finalizing_, true, &AppModel::finalizingChanged);
    if (manual) {
        lifecycle_.phase = MeetingLifecycle::Phase::suppressed;
        lifecycle_.since = services_.clock->uptime();
    }
    QPointer<AppModel> self(this);

    std::optional<CaptureResult> result;
    std::exception_ptr failure;
    try {
        result = co_await capture_->stop();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;

    if (result) {
        QStringList notices = result->warnings;
        // A recording that lost audio to a failing disk says so for good, on the entry.
        const std::optional<QString> gap =
            writeFailure_ ? std::optional<QString>(trackWriteNote(*writeFailure_)) : std::nullopt;
        if (gap && notices.isEmpty())
            notices << *gap;
        if (!notices.isEmpty())
            setMessage(notices.join(QLatin1Char(' ')));
        if (LocalRecording* item = find(id)) {
            markFinished(*item, *result);
            if (gap)
                item->error = gap->toStdString();
            Q_EMIT itemsChanged();
            // The save's own failure notice comes after the warnings, so it is the one left showing.
            persist();
        }
        queue_->schedule();
    } else {
        const QString description = failureSentence(failure, FailedStep::recordingMix);
        setMessage(description);
        if (LocalRecording* item = find(id)) {
            item->status = RecordingStatus::error;
            item->stage = ModelText::stageNeedsCheck;
            item->error = description.toStdString();
            Q_EMIT itemsChanged();
            persist();
        }
    }

    assign(finalizing_, false, &AppModel::finalizingChanged);
    assign(recordingID_, std::optional<Uuid>(), &AppModel::recordingIDChanged);
    capture_.reset();
    manualRecording_ = false;
    writeFailure_.reset();
    assign(recordingWarning_, std::optional<QString>(), &AppModel::recordingWarningChanged);
    assign(recordingSeconds_, 0.0, &AppModel::recordingSecondsChanged);
    assign(systemLevel_, 0.0f, &AppModel::systemLevelChanged);
    assign(microphoneLevel_, 0.0f, &AppModel::microphoneLevelChanged);
    watchSilence();
    Q_EMIT operationSettled();
}

bool AppModel::busy() const {
    return starting_ || finalizing_ || !finalizingEntries_.empty();
}

QCoro::Task<> AppModel::quit() {
    if (quitting_)
        co_return;
    // From here on nothing new starts (beginRecording and restoreRecording refuse).
    quitting_ = true;
    QPointer<AppModel> self(this);
    // Whatever is under way settles first: a start gives a running capture (stopped below) or
    // nothing; a stop, a salvage or a restore ends with its entry saved.
    while (self && (busy() || (recordingID_ && capture_))) {
        if (recordingID_ && capture_ && !finalizing_)
            co_await stopRecording(true);
        else
            co_await qCoro(this, &AppModel::operationSettled);
    }
    if (!self)
        co_return;
    // The queue's upload is aborted; its failure step runs before the library is saved below.
    co_await queue_->cancel();
    if (!self)
        co_return;
    persist();
    Q_EMIT terminationRequested();
}

void AppModel::refreshPermissionsOnActivation() {
    refreshPermissions(services_.verifySystemAudioOnActivation && services_.verifySystemAudioOnActivation());
}

bool AppModel::refusedInPreview() {
    if (isPreview_)
        setMessage(QString::fromUtf8(ModelText::previewNothingSaved));
    return isPreview_;
}

QCoro::Task<> AppModel::requestPermissions() {
    if (refusedInPreview())
        co_return;
    QPointer<AppModel> self(this);
    if (services_.requestPermissions)
        co_await services_.requestPermissions();
    if (self)
        co_await refreshPermissions(true);
}

QCoro::Task<> AppModel::refreshPermissions(bool verifySystem) {
    if (isPreview_ || checkingPermissions_)
        co_return;
    assign(checkingPermissions_, true, &AppModel::checkingPermissionsChanged);
    QPointer<AppModel> self(this);
    bool testFailed = false;
    // During a recording the reliable test would compete with the capture for the monitor: skip it.
    if (verifySystem && !recordingID_ && services_.verifySystemAudio) {
        try {
            co_await services_.verifySystemAudio();
        } catch (const std::exception&) {
            testFailed = true; // never shown: it only chooses the sentence
        }
        if (!self)
            co_return;
    }
    refreshPermissionMirrors();
    QString sentence;
    if (microphonePermission_ && audioPermission_)
        sentence = QString::fromUtf8(ModelText::accessGranted);
    else if (testFailed)
        sentence = QString::fromUtf8(ModelText::systemAudioNotRecorded);
    else
        sentence = QString::fromUtf8(ModelText::accessStillMissing);
    assign(permissionCheckMessage_, std::optional<QString>(sentence),
           &AppModel::permissionCheckMessageChanged);
    setMessage(sentence);
    assign(checkingPermissions_, false, &AppModel::checkingPermissionsChanged);
}

} // namespace parlo
