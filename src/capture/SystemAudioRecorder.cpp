#include "capture/SystemAudioRecorder.h"

#include "capture/CapturePermissions.h"
#include "capture/CaptureTexts.h"
#include "capture/RecordingFinalizer.h"
#include "core/FileSync.h"
#include "core/OffThread.h"
#include "core/ParloError.h"

#include <QLoggingCategory>

#include <cerrno>
#include <sys/stat.h>
#include <system_error>
#include <thread>

namespace parlo {

namespace {

Q_LOGGING_CATEGORY(recorderLog, "parlo.capture")

const char* const systemFile = RecordingFinalizer::systemTrackName;
const char* const microphoneFile = RecordingFinalizer::microphoneTrackName;

} // namespace

SystemAudioRecorder::SystemAudioRecorder(SourceFactory makeSource, std::shared_ptr<AudioCodec> codec)
    : makeSource_(std::move(makeSource))
    , codec_(std::move(codec))
    , handler_(*codec_) {
    handler_.onLevel = [this](float system, float microphone) {
        if (onLevel)
            onLevel(system, microphone);
    };
    handler_.onWriteFailure = [this](std::error_code error) {
        if (onWriteFailure)
            onWriteFailure(error);
    };
}

SystemAudioRecorder::~SystemAudioRecorder() {
    // No buffer may be posted once the queue starts winding down, and a stop in progress must have
    // queued its file work: the queue then runs it before it goes.
    if (source_)
        source_->stop();
    for (auto& thread : stopThreads_)
        thread.join();
}

QCoro::Task<> SystemAudioRecorder::start(std::filesystem::path folder) {
    if (!CapturePermissions::systemAudioPermission() || !CapturePermissions::microphoneAuthorized())
        throw ParloError(CaptureText::accessMissing);

    // Ask the service whether there is anything to record before anything is created on disk.
    std::shared_ptr<CaptureSource> source = makeSource_();
    // Named awaitables: GCC 12 mishandles lambda temporaries that live across a co_await.
    auto preparing = onOwnThread([source] { source->prepare(); });
    co_await preparing;

    std::error_code error;
    createdFolder_ = !std::filesystem::exists(folder, error);
    std::filesystem::create_directories(folder, error);
    if (error)
        throw PlatformError("Cannot create " + folder.string() + ": " + error.message());
    if (createdFolder_)
        ::chmod(folder.c_str(), 0700);
    folder_ = folder;

    try {
        systemTrack_ = std::make_unique<TimelineTrack>(folder / systemFile);
        micTrack_ = std::make_unique<TimelineTrack>(folder / microphoneFile);
        // The tracks' names (and the folder's own) must outlive a power cut as surely as their
        // audio does, or the salvage at the next start finds nothing to mix.
        syncFolder(folder);
        syncFolder(folder.parent_path());
    } catch (...) {
        discardStart();
        throw;
    }
    try {
        mixer_ = std::make_unique<IncrementalMixer>(folder, *systemTrack_, *micTrack_, *codec_);
    } catch (const std::exception& failure) {
        qCWarning(recorderLog, "no mix while recording, the stop mixes the whole call: %s", failure.what());
    }
    // The queue has not run anything for this recording yet; its first job is ordered after these
    // writes by the queue's lock.
    handler_.reset();
    handler_.setTracks(systemTrack_.get(), micTrack_.get());
    clocks_ = {StreamClock(), StreamClock()};
    joiners_ = {BlockJoiner(), BlockJoiner()};

    auto onChunk = [this](CapturedChunk&& chunk) {
        post(joiners_[static_cast<std::size_t>(chunk.source) & 1].add(std::move(chunk)));
    };
    auto onStopped = [this] {
        if (onFailure)
            onFailure(QString::fromUtf8(CaptureText::captureInterrupted));
    };
    std::exception_ptr failure;
    try {
        auto starting = onOwnThread([source, onChunk, onStopped] { source->start(onChunk, onStopped); });
        co_await starting;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        source->stop();
        queue_.drain();
        discardStart();
        std::rethrow_exception(failure);
    }
    source_ = std::move(source);
}

void SystemAudioRecorder::discardStart() {
    // Empty raw files left by a start that never captured must not look like a recording.
    std::error_code ignored;
    mixer_.reset();
    for (auto* track : {&systemTrack_, &micTrack_}) {
        try {
            if (*track)
                (*track)->close();
        } catch (...) {
        }
        track->reset();
    }
    handler_.setTracks(nullptr, nullptr);
    if (folder_) {
        std::filesystem::remove(*folder_ / systemFile, ignored);
        std::filesystem::remove(*folder_ / microphoneFile, ignored);
        if (createdFolder_)
            std::filesystem::remove(*folder_, ignored); // only if it is empty
    }
    folder_.reset();
}

void SystemAudioRecorder::post(std::vector<CaptureBlock>&& blocks) {
    for (auto& block : blocks)
        queue_.post([this, block = std::move(block)]() mutable { deliver(std::move(block)); });
}

void SystemAudioRecorder::deliver(CaptureBlock&& block) {
    place(clocks_[static_cast<std::size_t>(block.source) & 1].add(std::move(block)));
}

void SystemAudioRecorder::place(std::vector<StreamClock::Placed>&& placed) {
    for (const auto& [block, placement] : placed)
        handler_.handle(block.source, block.sampleRate, block.channels, block.samples, placement);
    if (mixer_ && !placed.empty())
        mixer_->advance();
}

QCoro::Task<CaptureResult> SystemAudioRecorder::stop() {
    // Taken now, so that neither the destructor nor a second stop stops the service again.
    std::shared_ptr<CaptureSource> running = std::move(source_);
    // Stopping the service ends its thread, so every buffer it delivered has been joined when the
    // rest of the blocks and then the finishing job are posted: the serial queue writes them all
    // before it closes the tracks.
    auto stopThenFinish = [this, running](std::function<void()> job) {
        stopThreads_.emplace_back([this, running, job = std::move(job)]() mutable {
            if (running) {
                running->stop();
                for (auto& joiner : joiners_)
                    post(joiner.flush());
            }
            queue_.post(std::move(job));
        });
    };
    std::optional<CaptureResult> result;
    std::exception_ptr failure;
    try {
        OffThread<CaptureResult> finishing(stopThenFinish, [this] { return finish(); });
        result = co_await finishing;
    } catch (...) {
        failure = std::current_exception();
    }
    // Nothing of the recorder is touched from here on: its owner may have destroyed it meanwhile.
    if (failure)
        std::rethrow_exception(failure);
    co_return std::move(*result);
}

namespace {

// The one sentence for the user when a track could not be written; the details are in the log.
QString writeFailureWarning(std::error_code error) {
    if (error == std::errc::no_space_on_device || error == std::errc::file_too_large ||
        error.value() == EDQUOT)
        return QString::fromUtf8(CaptureText::partLostDiskFull);
    return QString::fromUtf8(CaptureText::partLostDiskError);
}

} // namespace

CaptureResult SystemAudioRecorder::finish() {
    for (auto& clock : clocks_)
        place(clock.flush());
    if (!systemTrack_ || !micTrack_ || !folder_)
        throw ParloError(CaptureText::notStarted);
    qCInfo(recorderLog,
           "clock drift against the monotonic clock: system audio %+.0f ppm, microphone %+.0f ppm",
           clocks_[0].drift() * 1e6, clocks_[1].drift() * 1e6);

    // A failed write or flush loses part of the audio, not the recording: what is on disk is mixed.
    std::error_code writeError = handler_.writeError();
    for (auto* track : {systemTrack_.get(), micTrack_.get()}) {
        try {
            track->close();
        } catch (const TrackError& error) {
            qCWarning(recorderLog, "%s", error.what());
            writeError = error.code();
        }
    }

    const std::int64_t systemFrames = systemTrack_->receivedFrames();
    const std::int64_t microphoneFrames = micTrack_->receivedFrames();
    if (systemFrames == 0 && microphoneFrames == 0 && writeError) {
        mixer_.reset(); // and with it its partial file
        throw ParloError(writeFailureWarning(writeError));
    }
    // The raw tracks stay: the owner removes them once the library names the mixed file.
    CaptureResult result = finalize(RecordingFinalizer::ReceivedFrames{systemFrames, microphoneFrames});
    if (writeError)
        result.warnings << writeFailureWarning(writeError);
    handler_.setTracks(nullptr, nullptr);
    systemTrack_.reset();
    micTrack_.reset();
    handler_.reset();
    return result;
}

CaptureResult SystemAudioRecorder::finalize(const RecordingFinalizer::ReceivedFrames& received) {
    // Taken now, so that whatever happens the partial file it wrote is gone or renamed before the
    // mix after the call may create its own.
    const std::unique_ptr<IncrementalMixer> mixer = std::move(mixer_);
    if (mixer && mixer->usable()) {
        try {
            return RecordingFinalizer::finalizeMixed(*folder_, *codec_, received,
                                                     [&] { return mixer->finish(); });
        } catch (const PlatformError& error) {
            // The checks' own verdicts (ParloError) stand; only a failed mix or file is retried.
            qCWarning(recorderLog, "the mix while recording failed at the stop, mixing the whole call: %s",
                      error.what());
        }
    }
    if (mixer)
        mixer->abandon();
    return RecordingFinalizer::finalize(*folder_, *codec_, received);
}

} // namespace parlo
