#include "capture/SystemAudioRecorder.h"

#include "capture/AudioMixer.h"
#include "capture/CapturePermissions.h"
#include "capture/CaptureTexts.h"
#include "core/OffThread.h"
#include "core/ParloError.h"

#include <sys/stat.h>
#include <system_error>
#include <thread>

namespace parlo {

namespace {

const char* const systemFile = "system.pcm";
const char* const microphoneFile = "microphone.pcm";
const char* const mixedFile = "conversation.m4a";

} // namespace

SystemAudioRecorder::SystemAudioRecorder(SourceFactory makeSource, std::shared_ptr<AudioCodec> codec)
    : makeSource_(std::move(makeSource))
    , codec_(std::move(codec))
    , handler_(*codec_) {
    handler_.onLevel = [this](float system, float microphone) {
        if (onLevel)
            onLevel(system, microphone);
    };
}

SystemAudioRecorder::~SystemAudioRecorder() {
    // No buffer may be posted once the queue starts winding down.
    if (source_)
        source_->stop();
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
    } catch (...) {
        discardStart();
        throw;
    }
    // The queue has not run anything for this recording yet; its first job is ordered after these
    // writes by the queue's lock.
    handler_.reset();
    handler_.setTracks(systemTrack_.get(), micTrack_.get());
    clocks_ = {StreamClock(), StreamClock()};

    auto onChunk = [this](CapturedChunk&& chunk) {
        queue_.post([this, chunk = std::move(chunk)]() mutable { deliver(std::move(chunk)); });
    };
    auto onStopped = [this] {
        if (onFailure)
            onFailure(QStringLiteral("Захват звука прервался. Сохраняю доступные дорожки."));
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

void SystemAudioRecorder::deliver(CapturedChunk&& chunk) {
    auto& clock = clocks_[static_cast<std::size_t>(chunk.source)];
    for (auto& placed : clock.add(std::move(chunk))) {
        const auto& c = placed.chunk;
        handler_.handle(c.source, c.sampleRate, c.channels, c.samples, placed.time);
    }
}

QCoro::Task<CaptureResult> SystemAudioRecorder::stop() {
    std::shared_ptr<CaptureSource> running = source_;
    // Stopping the service joins its thread, so every buffer it delivered is already posted when the
    // finishing job is: the serial queue writes them all before it closes the tracks.
    auto stopThenFinish = [this, running](std::function<void()> job) {
        std::thread([this, running, job = std::move(job)]() mutable {
            if (running)
                running->stop();
            queue_.post(std::move(job));
        }).detach();
    };
    std::optional<CaptureResult> result;
    std::exception_ptr failure;
    try {
        OffThread<CaptureResult> finishing(stopThenFinish, [this] { return finish(); });
        result = co_await finishing;
    } catch (...) {
        failure = std::current_exception();
    }
    source_.reset();
    if (failure)
        std::rethrow_exception(failure);
    co_return std::move(*result);
}

CaptureResult SystemAudioRecorder::finish() {
    for (auto& clock : clocks_) {
        for (auto& placed : clock.flush()) {
            const auto& c = placed.chunk;
            handler_.handle(c.source, c.sampleRate, c.channels, c.samples, placed.time);
        }
    }
    if (!systemTrack_ || !micTrack_ || !folder_)
        throw ParloError("Запись не была начата.");

    systemTrack_->close();
    micTrack_->close();
    if (auto error = handler_.writingError())
        std::rethrow_exception(error);

    const std::int64_t systemFrames = systemTrack_->receivedFrames();
    const std::int64_t microphoneFrames = micTrack_->receivedFrames();
    if (systemFrames == 0 && microphoneFrames == 0)
        throw ParloError(
            "Звук не поступил ни с компьютера, ни с микрофона. Исходные файлы сохранены для проверки.");

    const auto output = *folder_ / mixedFile;
    const double duration = AudioMixer::mix(systemTrack_->url(), micTrack_->url(), output, *codec_);
    if (duration < 2.0)
        throw ParloError("Запись короче двух секунд. Исходные дорожки сохранены.");
    if (codec_->fileFrames(output) <= 0)
        throw ParloError("Не удалось сохранить звук.");

    CaptureResult result;
    result.file = output;
    result.duration = duration;
    result.systemFrames = systemFrames;
    result.microphoneFrames = microphoneFrames;
    if (systemFrames == 0)
        result.warnings << QStringLiteral(
            "Запись сохранена. Системный звук не поступал — в файле есть только микрофон.");
    if (microphoneFrames == 0)
        result.warnings << QStringLiteral(
            "Запись сохранена. Микрофон не поступал — в файле есть только звук компьютера.");

    std::error_code ignored;
    std::filesystem::remove(systemTrack_->url(), ignored);
    std::filesystem::remove(micTrack_->url(), ignored);
    handler_.setTracks(nullptr, nullptr);
    systemTrack_.reset();
    micTrack_.reset();
    handler_.reset();
    return result;
}

} // namespace parlo
