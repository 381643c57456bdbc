#pragma once

#include "capture/AudioRecorder.h"
#include "core/Clock.h"
#include "detection/CallActivitySnapshot.h"
#include "library/LocalRecording.h"
#include "model/MediaPlayer.h"
#include "model/MeetingLifecycle.h"
#include "model/SilenceWatch.h"
#include "server/ServerClient.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSettings;
class QTimer;

namespace parlo {

// What the model works with besides its own state. The application hands in the real parts;
// tests hand in driven clocks, scripted probes and fake recorders.
struct AppModelServices {
    std::shared_ptr<Clock> clock;
    // Where "automaticCallRecording" lives; the caller keeps it alive as long as the model.
    QSettings* settings = nullptr;
    std::shared_ptr<CallProbe> probe;
    AudioRecorderFactory recorderFactory;
    // Microphone access and the effective system-audio permission, read afresh on every call.
    std::function<bool()> microphoneAuthorized;
    std::function<bool()> systemAudioPermission;
    // The reliable system-audio test; remembers its outcome for systemAudioPermission. Throws on failure.
    std::function<QCoro::Task<>()> verifySystemAudio;
    // Whether the window's activation should run that test: the user asked for access before, or
    // the cheap answer already says granted and only needs confirming.
    std::function<bool()> verifySystemAudioOnActivation;
    // The service; absent means the one named by the environment or the build, with no secret store.
    std::optional<ServerClientOptions> server;
    // Keep the session in the desktop's secret store (the preview never does).
    bool rememberSession = true;
    // Asks the user for a personal access file; nothing when cancelled.
    std::function<std::optional<QString>()> chooseAccessFile;
    // Asks the user for an audio or video file to add; nothing when cancelled.
    std::function<std::optional<QString>()> chooseAudioFile;
    // Asks where to save an export, proposing a file name; nothing when cancelled.
    std::function<std::optional<QString>(const QString& proposedName, const QString& format)>
        chooseExportFile;
    // Opens the desktop's sound settings; false when none could be started.
    std::function<bool()> openSoundSettings;
    // Shows a file or folder selected in the desktop's file manager. Throws when nothing could show it.
    std::function<QCoro::Task<>(QString path)> revealFile;
    // Makes the audio player on first use; it downloads the service's audio through the client.
    std::function<std::unique_ptr<MediaPlayer>(ServerClient& client)> makePlayer;
};

// Notices the model and the views share.
namespace ModelText {
inline constexpr const char* soundSettingsUnavailable =
    "Не удалось открыть настройки звука. Установите pavucontrol или откройте настройки звука рабочего "
    "стола.";
} // namespace ModelText

// The one application model: every piece of state the interface shows and every operation it can
// start. Lives on the main thread; each published field has its own change signal.
class AppModel : public QObject {
    Q_OBJECT
public:
    AppModel(bool preview, AppModelServices services, QObject* parent = nullptr);
    ~AppModel() override;

    // Published fields.
    bool isPreview() const { return isPreview_; }
    const std::vector<LocalRecording>& items() const { return items_; }
    std::optional<Uuid> selection() const { return selection_; }
    bool autoEnabled() const { return autoEnabled_; }
    bool connected() const { return connected_; }
    bool microphonePermission() const { return microphonePermission_; }
    bool audioPermission() const { return audioPermission_; }
    const CallActivitySnapshot& callActivity() const { return callActivity_; }
    std::optional<Uuid> recordingID() const { return recordingID_; }
    double recordingSeconds() const { return recordingSeconds_; }
    bool finalizing() const { return finalizing_; }
    float systemLevel() const { return systemLevel_; }
    float microphoneLevel() const { return microphoneLevel_; }
    std::optional<QString> message() const { return message_; }
    bool settingsVisible() const { return settingsVisible_; }
    QString search() const { return search_; }
    bool isPlaying() const { return isPlaying_; }
    double playbackPosition() const { return playbackPosition_; }
    double playbackDuration() const { return playbackDuration_; }
    QString password() const { return password_; }
    bool loggingIn() const { return loggingIn_; }
    bool starting() const { return starting_; }
    bool checkingPermissions() const { return checkingPermissions_; }
    std::optional<QString> permissionCheckMessage() const { return permissionCheckMessage_; }
    // While recording: which side has not been heard for a while ("Микрофон молчит…", "Звук
    // компьютера не записывается…"); nothing when both are fine or no recording runs.
    std::optional<QString> silenceWarning() const { return silenceWarning_; }

    // The fields the interface may write.
    void setSelection(std::optional<Uuid> value);
    void setMessage(std::optional<QString> value);
    void setSettingsVisible(bool value);
    void setSearch(const QString& value);
    void setPassword(const QString& value);
    void setPlaybackPosition(double value);

    // Derived values, computed on every read.
    std::optional<LocalRecording> selected() const;
    std::vector<LocalRecording> filteredItems() const;
    QString statusTitle() const;
    std::optional<QString> recordingHint() const;

    const MeetingLifecycle& lifecycle() const { return lifecycle_; }

    // Operations.
    QCoro::Task<> recordNow();
    QCoro::Task<> stopRecording(bool manual);
    QCoro::Task<> quit();
    void setAutoEnabled(bool on);
    QCoro::Task<> tick();
    QCoro::Task<> beginRecording(bool automatic);
    QCoro::Task<> refreshPermissions(bool verifySystem);
    // The window became active: mirror the permissions again, with the reliable test when worth it.
    void refreshPermissionsOnActivation();
    QCoro::Task<> login();
    void importAccessFile();
    // The part of importAccessFile() after the file has been chosen.
    void importAccessFileAt(const QString& path);
    QCoro::Task<> logout();
    QCoro::Task<> synchronize();
    void importAudio();
    // The part of importAudio() after the file has been chosen.
    void importAudioAt(const QString& path);
    void retry(const Uuid& id);
    QCoro::Task<> loadDetail(const Uuid& id);
    // Saves the service's export of a recording ("md", "txt", "srt" or "json") where the user says.
    QCoro::Task<> exportRecording(const Uuid& id, QString format);
    // Plays a recording, from `at` seconds when given, else toggles play and pause.
    QCoro::Task<> play(const Uuid& id, std::optional<double> at);
    // "Показать файлы": the recording's audio file selected in the file manager (its folder when it
    // has no file yet). A failure becomes the notice.
    QCoro::Task<> revealFiles(const Uuid& id);
    // Opens the desktop's sound settings, where the microphone and the output are chosen; when none
    // can be opened, the notice says what to install.
    void openSoundSettings();
    // Moves the loaded player (the slider).
    void seek(double seconds);
    // The upload queue is running.
    bool uploading() const { return queueRunning_; }

    ServerClient& client() const { return *client_; }

Q_SIGNALS:
    void itemsChanged();
    void selectionChanged();
    void autoEnabledChanged();
    void connectedChanged();
    void microphonePermissionChanged();
    void audioPermissionChanged();
    void callActivityChanged();
    void recordingIDChanged();
    void recordingSecondsChanged();
    void finalizingChanged();
    void systemLevelChanged();
    void microphoneLevelChanged();
    void messageChanged();
    void settingsVisibleChanged();
    void searchChanged();
    void isPlayingChanged();
    void playbackPositionChanged();
    void playbackDurationChanged();
    void passwordChanged();
    void loggingInChanged();
    void startingChanged();
    void checkingPermissionsChanged();
    void permissionCheckMessageChanged();
    void uploadingChanged();
    void silenceWarningChanged();
    // A recording that started by itself has gone silent on one side: raised once per recording,
    // so the desktop can tell a user who is not looking at the window.
    void silenceAlert(const QString& text);
    // Asks the application to end; emitted by quit() once everything is saved.
    void terminationRequested();

private:
    template <typename T> void assign(T& field, T value, void (AppModel::*changed)()) {
        if (field == value)
            return;
        field = std::move(value);
        Q_EMIT(this->*changed)();
    }
    void setItems(std::vector<LocalRecording> items);
    LocalRecording* find(const Uuid& id);
    // Saves the whole library; a failure becomes the notice and the list stays as it is.
    void persist();
    void loadPreviewFixture();
    void startTickTimer();
    QCoro::Task<> startUp();
    void refreshPermissionMirrors();
    void scheduleUploads();
    void setUploading(bool running);
    QCoro::Task<> runQueue();
    // Copies the service's view of a meeting into a recording.
    static void applyResult(LocalRecording& item, const ServerMeeting& meeting);

    const bool isPreview_;
    AppModelServices services_;

    std::vector<LocalRecording> items_;
    std::optional<Uuid> selection_;
    bool autoEnabled_ = false;
    bool connected_ = false;
    bool microphonePermission_ = false;
    bool audioPermission_ = false;
    CallActivitySnapshot callActivity_ = CallActivitySnapshot::idle();
    std::optional<Uuid> recordingID_;
    double recordingSeconds_ = 0;
    bool finalizing_ = false;
    float systemLevel_ = 0;
    float microphoneLevel_ = 0;
    std::optional<QString> message_;
    bool settingsVisible_ = false;
    QString search_;
    bool isPlaying_ = false;
    double playbackPosition_ = 0;
    double playbackDuration_ = 0;
    QString password_;
    bool loggingIn_ = false;
    bool starting_ = false;
    bool checkingPermissions_ = false;
    std::optional<QString> permissionCheckMessage_;

    ServerClient* client_ = nullptr;
    std::unique_ptr<AudioRecorder> capture_;
    std::unique_ptr<MediaPlayer> player_;
    void mirrorPlayer();
    // Compares the latest levels with the silence rules and publishes the warning.
    void watchSilence();
    SilenceWatch silence_;
    std::optional<QString> silenceWarning_;
    bool silenceAlerted_ = false;
    MeetingLifecycle lifecycle_;
    QPointer<QTimer> tickTimer_;
    QDateTime started_;
    bool manualRecording_ = false;
    bool ticking_ = false;
    QDateTime nextAttempt_;
    QDateTime lastSync_;
    bool syncInProgress_ = false;
    bool queueRunning_ = false;
    bool queueCancelled_ = false;
};

} // namespace parlo
