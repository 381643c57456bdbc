#include "capture/RecordingFinalizer.h"

#include "capture/AudioCodec.h"
#include "capture/AudioMixer.h"
#include "capture/CaptureTexts.h"
#include "core/FileSync.h"
#include "core/ParloError.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace parlo::RecordingFinalizer {

namespace {

// A track that was never created reads as an empty one.
fs::path trackOrSilence(const fs::path& track) {
    std::error_code error;
    return fs::exists(track, error) ? track : fs::path("/dev/null");
}

std::int64_t framesInFile(const fs::path& track) {
    std::error_code error;
    const std::uintmax_t bytes = fs::file_size(track, error);
    return error ? 0 : static_cast<std::int64_t>(bytes / 4);
}

// Completes the mix in the private partial file and moves it into place only once it is whole and
// on disk.
double commitDurably(const fs::path& folder, const std::function<double()>& mixIntoPartial) {
    const fs::path partial = folder / partialFileName;
    const fs::path output = folder / mixedFileName;
    try {
        const double duration = mixIntoPartial();
        syncFile(partial);
        if (::rename(partial.c_str(), output.c_str()) != 0)
            throw PlatformError::fromErrno("Cannot rename to", output, errno);
        syncFolder(folder);
        return duration;
    } catch (...) {
        ::unlink(partial.c_str());
        throw;
    }
}

CaptureResult finalizeWith(const fs::path& folder, AudioCodec& codec, const ReceivedFrames& frames,
                           const std::function<double()>& mixIntoPartial) {
    if (frames.system == 0 && frames.microphone == 0)
        throw ParloError(CaptureText::nothingReceived);

    const double duration = commitDurably(folder, mixIntoPartial);
    const fs::path output = folder / mixedFileName;
    if (duration < 2.0)
        throw ParloError(CaptureText::tooShort);
    if (codec.fileFrames(output) <= 0)
        throw ParloError(CaptureText::audioNotSaved);

    CaptureResult result;
    result.file = output;
    result.duration = duration;
    result.systemFrames = frames.system;
    result.microphoneFrames = frames.microphone;
    if (frames.system == 0)
        result.warnings << QString::fromUtf8(CaptureText::savedWithoutSystemAudio);
    if (frames.microphone == 0)
        result.warnings << QString::fromUtf8(CaptureText::savedWithoutMicrophone);
    return result;
}

} // namespace

fs::path createPartialFile(const fs::path& folder) {
    const fs::path partial = folder / partialFileName;
    ::unlink(partial.c_str()); // a leftover of an interrupted mix
    // Created here with 0600 so that not even the first byte is ever readable by others; the
    // encoder then opens the existing file, which keeps its mode.
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw PlatformError::fromErrno("Cannot create", partial, errno);
    ::close(fd);
    return partial;
}

CaptureResult finalize(const fs::path& folder, AudioCodec& codec, std::optional<ReceivedFrames> received) {
    const fs::path system = folder / systemTrackName;
    const fs::path microphone = folder / microphoneTrackName;
    const ReceivedFrames frames =
        received.value_or(ReceivedFrames{framesInFile(system), framesInFile(microphone)});
    // What a mix cut short by a crash left behind goes even when there is nothing to mix.
    ::unlink((folder / partialFileName).c_str());
    return finalizeWith(folder, codec, frames, [&] {
        const fs::path partial = createPartialFile(folder);
        return AudioMixer::mix(trackOrSilence(system), trackOrSilence(microphone), partial, codec);
    });
}

CaptureResult finalizeMixed(const fs::path& folder, AudioCodec& codec, ReceivedFrames received,
                            const std::function<double()>& completeMix) {
    return finalizeWith(folder, codec, received, completeMix);
}

bool hasRawTracks(const fs::path& folder) {
    std::error_code error;
    return fs::exists(folder / systemTrackName, error) || fs::exists(folder / microphoneTrackName, error);
}

void removeRawTracks(const fs::path& folder) {
    for (const char* name : {systemTrackName, microphoneTrackName}) {
        const fs::path track = folder / name;
        if (::unlink(track.c_str()) != 0 && errno != ENOENT)
            throw PlatformError::fromErrno("Cannot remove", track, errno);
    }
    syncFolder(folder);
}

} // namespace parlo::RecordingFinalizer
