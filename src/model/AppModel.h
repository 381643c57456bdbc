#pragma once

#include "capture/AudioRecorder.h"
#include "core/Clock.h"
#include "detection/CallActivitySnapshot.h"
#include "library/LocalRecording.h"
#include "library/TranscriptIndex.h"
#include "model/MediaPlayer.h"
#include "model/MeetingLifecycle.h"
#include "model/ModelTexts.h"
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

class AudioCodec;
class TranscriptSearch;
class UploadQueue;

// What the model works with besides its own state. The application hands in the real parts;
// tests hand in driven clocks, scripted probes and fake recorders.
struct AppModelServices {
    std::shared_ptr<Clock> clock;
    // Where "automaticCallRecording" lives; the caller keeps it alive as long as the model.
    QSettings* settings = nullptr;
    std::shared_ptr<CallProbe> probe;
    AudioRecorderFactory recorderFactory;
    // Encodes when the model finalizes raw tracks itself: the salvage at start-up of a capture that
    // ended with the process, and "Восстановить запись". Without it those entries stay as they are.
    std::shared_ptr<AudioCodec> codec;
    // Microphone access and the effective system-audio permission, read afresh on every call.
    std::function<bool()> microphoneAuthorized;
    std::function<bool()> systemAudioPermission;
    // The reliable system-audio test; remembers its outcome for systemAudioPermission. Throws on failure.
    std::function<QCoro::Task<>()> verifySystemAudio;
    // Whether the window's activation should run that test: the user asked for access before, or
    // the cheap answer already says granted and only needs confirming.
    std::function<bool()> verifySystemAudioOnActivation;
    // "Разрешить запись звука": records in the settings that the user asked and re-checks both grants.
    std::function<QCoro::Task<bool>()> requestPermissions;
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
    // Asks where to save a copy of a recording's audio, proposing a file name; nothing when cancelled.
    std::function<std::optional<QString>(const QString& proposedName)> chooseAudioDestination;
    // Opens the desktop's sound settings; false when none could be started.
    std::function<bool()> openSoundSettings;
    // Shows a file or folder selected in the desktop's file manager. Throws when nothing could show it.
    std::function<QCoro::Task<>(QString path)> revealFile;
    // Makes the audio player on first use; it downloads the service's audio through the client.
    std::function<std::unique_ptr<MediaPlayer>(ServerClient& client)> makePlayer;
};

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
    // The desktop starts the application at login (the autostart entry on disk, as last read).
    bool startAtLogin() const { return startAtLogin_; }
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
    // Shown in the recording card while the running recording's tracks cannot be written.
    std::optional<QString> recordingWarning() const { return recordingWarning_; }
    // quit() has begun: no new recording starts.
    bool quitting() const { return quitting_; }
    // Lines of transcripts and summaries where the words of `search` were said, newest recording
    // first (the title filter of filteredItems() stays as it is).
    const std::vector<TranscriptMatch>& transcriptMatches() const;
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
    // Writes or removes the autostart entry; a failure becomes the notice and the switch shows the disk.
    void setStartAtLogin(bool on);
    // Reads the autostart entry again: the desktop's settings or the user may have changed it.
    void refreshStartAtLogin();
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
    // "Разрешить запись звука" (not in the preview, which writes no settings).
    QCoro::Task<> requestPermissions();
    // "Восстановить запись": mixes the raw tracks that a failed stop or mix left in the entry's
    // folder again, with the same finalization as a stop.
    QCoro::Task<> restoreRecording(Uuid id);
    // Whether restoreRecording can run for this entry: it has no audio file, its raw tracks are in
    // its folder, and nothing is finalizing it now.
    bool canRestore(const LocalRecording& recording) const;
    // Plays a recording, from `at` seconds when given, else toggles play and pause. Refused with a
    // notice while a recording runs: it would be recorded with the call (a start pauses the player).
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
    bool uploading() const;

    // Why a recording cannot be deleted now (it is being recorded, saved or sent), or nothing.
    std::optional<QString> deletionRefusal(const Uuid& id) const;
    // Moves the recording's folder to the desktop's trash and removes it from the library; the
    // selection moves to a neighbour. A recording the service knows is remembered so that the
    // synchronization does not bring it back. Says why in `message` and returns false when it cannot.
    bool deleteRecording(const Uuid& id);
    // Gives a recording a new title: trimmed, not empty, at most kMaxTitleLength characters. Says
    // why in `message` and returns false when it refuses. The synchronization never writes a known
    // recording's title, so the user's title stays.
    bool renameRecording(const Uuid& id, const QString& title);
    static constexpr int kMaxTitleLength = 160;
    // Saves a copy of the recording's audio where the user says, through a temporary file.
    QCoro::Task<> saveAudio(const Uuid& id);
    // The transcript search has no query or index work waiting.
    bool transcriptSearchIdle() const;

    ServerClient& client() const { return *client_; }

Q_SIGNALS:
    void itemsChanged();
    void selectionChanged();
    void autoEnabledChanged();
    void startAtLoginChanged();
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
    void recordingWarningChanged();
    // A notice important enough for the desktop's notifications (the window may be closed).
    void notificationRequested(const QString& text);
    // A start, a stop or a finalization has ended and the model's state is final; quit() waits on it.
    void operationSettled();
    void transcriptMatchesChanged();
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
    // Saves the whole library; a failure becomes the notice and the list stays as it is. Returns
    // whether the library is now durably on disk. Writes nothing in the preview, nor while the
    // library file is there but could not be read.
    bool persist();
    // Loads the library at start-up, or again after it could not be read; see persist().
    void loadLibrary();
    // Reads the library again after it could not be read; the failure, or null once it is read.
    std::exception_ptr rereadLibrary();
    // The notice for a damaged library file set aside under `keptAs`; nothing when it is empty.
    void reportDamagedLibrary(const std::string& keptAs);
    // Gives an entry the mixed file of a finished capture; its raw tracks await the next save.
    void markFinished(LocalRecording& item, const CaptureResult& result);
    // After a save: the raw tracks of entries it named with their mixed file can go.
    void removeSavedTracks();
    void reportWriteFailure(std::error_code error);
    // Finalizes an entry's raw tracks off the main thread: it becomes a normal entry (saved, or
    // only in memory when the save failed and showed its notice), or stays "error" with the reason.
    enum class Finalized { failed, saved, unsaved };
    QCoro::Task<Finalized> finalizeEntry(Uuid id);
    QCoro::Task<> salvageInterrupted();
    bool busy() const;
    // In the preview, which writes nothing and sends nothing: shows why the operation does not run.
    bool refusedInPreview();
    void loadPreviewFixture();
    void startTickTimer();
    // Opens the transcript index off the main thread and keeps it in line with the library.
    void startTranscriptSearch();
    QCoro::Task<> startUp();
    void refreshPermissionMirrors();
    void pausePlayerForRecording();

    const bool isPreview_;
    AppModelServices services_;

    std::vector<LocalRecording> items_;
    std::optional<Uuid> selection_;
    bool autoEnabled_ = false;
    bool startAtLogin_ = false;
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
    std::optional<QString> recordingWarning_;
    std::optional<std::error_code> writeFailure_; // the running recording's first failed write
    bool quitting_ = false;
    bool libraryUnreadable_ = false;
    QDateTime lastLibraryRetry_;
    std::vector<Uuid> finalizingEntries_;  // salvages and restores under way
    std::vector<Uuid> tracksAwaitingSave_; // finished entries whose raw tracks are still needed

    ServerClient* client_ = nullptr;
    // Sends recordings to the service and synchronizes the library with it.
    std::unique_ptr<UploadQueue> queue_;
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
    TranscriptSearch* transcriptSearch_ = nullptr;
    // The recording last handed to the player.
    std::optional<Uuid> playerRecording_;
};

} // namespace parlo
