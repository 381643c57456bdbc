#include "model/AppModel.h"

#include "capture/CaptureTexts.h"
#include "core/ParloError.h"
#include "library/LocalStore.h"

#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QTimer>
#include <qcoro/qcorosignal.h>

#include <algorithm>

namespace parlo {

namespace {

const char* const kAutoStartKey = "automaticCallRecording";
constexpr int kTickIntervalMs = 800;
constexpr double kRecordingLimitSeconds = 7200;

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
    client_ = new ServerClient(remember, std::move(options), this);
    nextAttempt_ = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    lastSync_ = nextAttempt_;

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
    items_ = LocalStore::load();
    if (services_.settings)
        autoEnabled_ = services_.settings->value(QString::fromLatin1(kAutoStartKey), false).toBool();
    startTickTimer();
    startUp();
}

QCoro::Task<> AppModel::startUp() {
    QPointer<AppModel> self(this);
    if (!client_->isSecure()) {
        // A deployment mistake the user must hear of: recording goes on, nothing is sent.
        setMessage(QString::fromUtf8(ServiceText::insecureBase));
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
    scheduleUploads();
}

AppModel::~AppModel() = default;

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
    record.title = "Синтетическая встреча · планы на неделю";
    record.created = toLibraryTime(services_.clock->now());
    record.status = RecordingStatus::done;
    record.stage = "Готово";
    record.progress = 100;
    if (meeting.result) {
        record.duration = meeting.result->duration;
        record.result = std::make_shared<const StoredResult>(std::move(*meeting.result));
    }
    record.source = "Синтетический пример";
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

void AppModel::persist() {
    try {
        LocalStore::save(items_);
    } catch (const std::exception&) {
        setMessage(
            QStringLiteral("Не удалось сохранить библиотеку на этом компьютере. Проверьте свободное место."));
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
        return QStringLiteral("Сохраняю разговор");
    if (recordingID_)
        return QStringLiteral("Записываю разговор");
    if (checkingPermissions_)
        return QStringLiteral("Проверяю доступ к звуку");
    if (!audioPermission_ || !microphonePermission_)
        return QStringLiteral("Нужен доступ к звуку");
    if (starting_)
        return QStringLiteral("Начинаю запись");
    if (!autoEnabled_)
        return QStringLiteral("Готов к записи");
    if (!callActivity_.probeAvailable)
        return QStringLiteral("Автостарт недоступен · можно записать вручную");
    if (callActivity_.active)
        return QStringLiteral("Обнаружен звуковой звонок");
    return QStringLiteral("Ожидаю звонок · можно записать вручную");
}

std::optional<QString> AppModel::recordingHint() const {
    if (recordingID_ || starting_ || !audioPermission_ || !microphonePermission_)
        return std::nullopt;
    return QStringLiteral(
        "Нажмите «Записать» в любом приложении: сохраняются звук компьютера и ваш микрофон. "
        "Ручная запись идёт до нажатия «Завершить».");
}

void AppModel::setAutoEnabled(bool on) {
    if (isPreview_) {
        setMessage(QStringLiteral("В предпросмотре запись выключена."));
        return;
    }
    if (on) {
        const bool microphone = services_.microphoneAuthorized && services_.microphoneAuthorized();
        const bool system = services_.systemAudioPermission && services_.systemAudioPermission();
        if (!microphone || !system) {
            setMessage(QStringLiteral(
                "Разрешите микрофон и запись системного звука, затем включите автостарт звонков."));
            setSettingsVisible(true);
            return;
        }
    }
    assign(autoEnabled_, on, &AppModel::autoEnabledChanged);
    if (services_.settings)
        services_.settings->setValue(QString::fromLatin1(kAutoStartKey), on);
    if (!on && recordingID_ && !manualRecording_)
        stopRecording(true); // runs on its own; the model outlives it or the task checks for that
}

QCoro::Task<> AppModel::tick() {
    if (ticking_)
        co_return;
    ticking_ = true;
    QPointer<AppModel> self(this);

    refreshPermissionMirrors();
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
        setMessage(QStringLiteral("Достигнут лимит двух часов. Запись сохранена."));
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

    // Never while the queue runs: a list that already holds the meeting being uploaded would meet a
    // recording that does not know its meeting yet.
    if (connected_ && !queueRunning_) {
        const bool busy = std::any_of(items_.begin(), items_.end(), [](const LocalRecording& r) {
            return r.status == RecordingStatus::processing || r.status == RecordingStatus::queued ||
                   r.status == RecordingStatus::uploading;
        });
        const double sinceSync = static_cast<double>(lastSync_.msecsTo(services_.clock->now())) / 1000.0;
        if (sinceSync > (busy ? 4.0 : 20.0)) {
            co_await synchronize();
            if (!self)
                co_return;
        }
    }
    if (services_.clock->now() >= nextAttempt_)
        scheduleUploads();

    ticking_ = false;
}

QCoro::Task<> AppModel::beginRecording(bool automatic) {
    if (isPreview_ || starting_ || recordingID_ || finalizing_)
        co_return;
    if (!microphonePermission_ || !audioPermission_) {
        setSettingsVisible(true);
        co_return;
    }
    assign(starting_, true, &AppModel::startingChanged);
    QPointer<AppModel> self(this);

    const QDateTime startedAt = services_.clock->now();
    LocalRecording entry;
    entry.id = Uuid::random();
    const QString title = QStringLiteral("Разговор · ") +
                          QLocale(QLocale::Russian, QLocale::Russia)
                              .toString(startedAt.toLocalTime(), QStringLiteral("d MMMM, HH:mm"));
    entry.title = title.toStdString();
    entry.created = toLibraryTime(startedAt);
    entry.folderName = entry.id.toString();
    entry.status = RecordingStatus::recording;
    entry.stage = "Запись разговора";
    entry.source = "Звук компьютера + микрофон";
    const Uuid id = entry.id;
    const std::filesystem::path folder = LocalStore::recordingsFolder() / *entry.folderName;
    items_.insert(items_.begin(), std::move(entry));
    Q_EMIT itemsChanged();
    setSelection(id);
    persist();

    std::unique_ptr<AudioRecorder> recorder;
    std::exception_ptr failure;
    try {
        if (!services_.recorderFactory)
            throw ParloError(QStringLiteral("Запись не была начата."));
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
        const QString description = describeError(failure);
        if (LocalRecording* item = find(id)) {
            item->status = RecordingStatus::error;
            item->stage = "Запись не началась";
            item->error = description.toStdString();
            Q_EMIT itemsChanged();
            persist();
        }
        setMessage(description);
        lifecycle_.phase = MeetingLifecycle::Phase::suppressed;
        lifecycle_.since = services_.clock->uptime();
        assign(starting_, false, &AppModel::startingChanged);
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
    if (message_)
        setMessage(std::nullopt);
    assign(starting_, false, &AppModel::startingChanged);
}

void AppModel::mirrorPlayer() {
    assign(isPlaying_, player_->isPlaying(), &AppModel::isPlayingChanged);
    assign(playbackPosition_, player_->position(), &AppModel::playbackPositionChanged);
    assign(playbackDuration_, player_->duration(), &AppModel::playbackDurationChanged);
}

QCoro::Task<> AppModel::play(const Uuid& id, std::optional<double> at) {
    const LocalRecording* item = find(id);
    if (!item)
        co_return;
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
    if (!self)
        co_return;
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
            text = QStringLiteral("Микрофон молчит уже 20 секунд, хотя звук компьютера идёт. Проверьте, не "
                                  "выключен ли микрофон и тот ли выбран в настройках звука.");
            break;
        case SilenceWatch::Warning::systemAudio:
            text = QStringLiteral("Звук компьютера не записывается уже 20 секунд, хотя микрофон вас слышит. "
                                  "Проверьте, что звонок звучит через устройство вывода, выбранное в "
                                  "настройках звука.");
            break;
        case SilenceWatch::Warning::both:
            text =
                QStringLiteral("Ни микрофон, ни звук компьютера не слышны уже минуту. Проверьте устройства "
                               "в настройках звука.");
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
        setMessage(QStringLiteral("В предпросмотре запись выключена."));
        co_return;
    }
    if (starting_ || recordingID_ || finalizing_)
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
        if (LocalRecording* item = find(id)) {
            item->fileName = result->file.filename().string();
            item->duration = result->duration;
            item->status = connected_ ? RecordingStatus::local : RecordingStatus::waitingLogin;
            item->stage = connected_ ? "Готово к отправке" : "Войдите для расшифровки";
            Q_EMIT itemsChanged();
            persist();
        }
        if (!result->warnings.isEmpty())
            setMessage(result->warnings.join(QLatin1Char(' ')));
        scheduleUploads();
    } else {
        const QString description = describeError(failure);
        if (LocalRecording* item = find(id)) {
            item->status = RecordingStatus::error;
            item->stage = "Нужно проверить запись";
            item->error = description.toStdString();
            Q_EMIT itemsChanged();
            persist();
        }
        setMessage(description);
    }

    assign(finalizing_, false, &AppModel::finalizingChanged);
    assign(recordingID_, std::optional<Uuid>(), &AppModel::recordingIDChanged);
    capture_.reset();
    manualRecording_ = false;
    assign(recordingSeconds_, 0.0, &AppModel::recordingSecondsChanged);
    assign(systemLevel_, 0.0f, &AppModel::systemLevelChanged);
    assign(microphoneLevel_, 0.0f, &AppModel::microphoneLevelChanged);
    watchSilence();
}

QCoro::Task<> AppModel::quit() {
    QPointer<AppModel> self(this);
    if (recordingID_) {
        co_await stopRecording(true);
        if (!self)
            co_return;
    }
    if (queueRunning_) {
        // The queue's upload is aborted; its failure step runs before the library is saved below.
        queueCancelled_ = true;
        client_->cancelAll();
        while (queueRunning_ && self)
            co_await qCoro(this, &AppModel::uploadingChanged);
        if (!self)
            co_return;
    }
    persist();
    Q_EMIT terminationRequested();
}

void AppModel::refreshPermissionsOnActivation() {
    refreshPermissions(services_.verifySystemAudioOnActivation && services_.verifySystemAudioOnActivation());
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
        sentence = QStringLiteral("Микрофон и системный звук доступны. Можно нажать «Записать».");
    else if (testFailed)
        sentence =
            QStringLiteral("Звук компьютера пока не записывается: звуковой сервер не отдал звук устройства "
                           "вывода. Выберите устройство вывода в настройках звука системы, затем нажмите "
                           "«Проверить доступ».");
    else
        sentence = QStringLiteral(
            "Разрешите недостающий доступ в настройках системы, затем нажмите «Проверить доступ».");
    assign(permissionCheckMessage_, std::optional<QString>(sentence),
           &AppModel::permissionCheckMessageChanged);
    setMessage(sentence);
    assign(checkingPermissions_, false, &AppModel::checkingPermissionsChanged);
}

} // namespace parlo
