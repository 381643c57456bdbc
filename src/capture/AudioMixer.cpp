#include "capture/AudioMixer.h"

#include "capture/AudioCodec.h"
#include "core/ParloError.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace parlo {

namespace {

inline float sampleAt(const char* chunk, std::size_t bytes, std::size_t frame) {
    const std::size_t offset = frame * 4;
    if (offset + 4 > bytes)
        return 0.0f;
    float value;
    std::memcpy(&value, chunk + offset, 4);
    return std::isfinite(value) ? value : 0.0f;
}

} // namespace

std::size_t AudioMixer::mixChunk(const char* system, std::size_t systemBytes, const char* microphone,
                                 std::size_t microphoneBytes, float* out) {
    const std::size_t frames = std::max(systemBytes, microphoneBytes) / 4;
    // The common part runs without per-sample bounds checks; only the tail of the longer chunk and
    // a last incomplete sample go through sampleAt.
    const std::size_t common = std::min(systemBytes, microphoneBytes) / 4;
    for (std::size_t i = 0; i < common; ++i) {
        float s;
        float m;
        std::memcpy(&s, system + 4 * i, 4);
        std::memcpy(&m, microphone + 4 * i, 4);
        s = std::isfinite(s) ? s : 0.0f;
        m = std::isfinite(m) ? m : 0.0f;
        out[i] = std::clamp(s + m, -clipBound, clipBound);
    }
    for (std::size_t i = common; i < frames; ++i) {
        const float sum = sampleAt(system, systemBytes, i) + sampleAt(microphone, microphoneBytes, i);
        out[i] = std::clamp(sum, -clipBound, clipBound);
    }
    return frames;
}

// A read-only file descriptor closed on every exit; close errors are of no interest to a reader.
class AudioMixer::Input {
public:
    explicit Input(const std::filesystem::path& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            throw PlatformError::fromErrno("Cannot open", path, errno);
    }
    ~Input() { ::close(fd_); }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // Reads up to `size` bytes at `offset`; fewer only at the end of the file.
    std::size_t readAt(char* buffer, std::size_t size, off_t offset) {
        std::size_t total = 0;
        while (total < size) {
            const ssize_t got =
                ::pread(fd_, buffer + total, size - total, offset + static_cast<off_t>(total));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throw PlatformError::fromErrno("Cannot read", path_, errno);
            }
            if (got == 0)
                break;
            total += static_cast<std::size_t>(got);
        }
        return total;
    }

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

AudioMixer::AudioMixer(const std::filesystem::path& system, const std::filesystem::path& microphone)
    : system_(std::make_unique<Input>(system))
    , microphone_(std::make_unique<Input>(microphone))
    , systemChunk_(chunkBytes)
    , microphoneChunk_(chunkBytes)
    , mixed_(chunkFrames) {}

AudioMixer::~AudioMixer() = default;

std::size_t AudioMixer::mixStep(std::int64_t first, AudioEncoder& encoder) {
    const auto offset = static_cast<off_t>(first) * 4;
    const std::size_t systemBytes = system_->readAt(systemChunk_.data(), chunkBytes, offset);
    const std::size_t microphoneBytes = microphone_->readAt(microphoneChunk_.data(), chunkBytes, offset);
    cutASample_ = systemBytes % 4 != 0 || microphoneBytes % 4 != 0;
    if (std::max(systemBytes, microphoneBytes) < 4)
        return 0;
    const std::size_t frames =
        mixChunk(systemChunk_.data(), systemBytes, microphoneChunk_.data(), microphoneBytes, mixed_.data());
    encoder.write(std::span<const float>(mixed_.data(), frames));
    return frames;
}

double AudioMixer::mix(const std::filesystem::path& system, const std::filesystem::path& microphone,
                       const std::filesystem::path& output, AudioCodec& codec) {
    AudioMixer mixer(system, microphone);
    const std::unique_ptr<AudioEncoder> writer = codec.createEncoder(output, sampleRate, bitRate);
    std::int64_t totalFrames = 0;
    while (const std::size_t frames = mixer.mixStep(totalFrames, *writer))
        totalFrames += static_cast<std::int64_t>(frames);
    writer->finish();
    if (::chmod(output.c_str(), 0600) != 0)
        throw PlatformError::fromErrno("Cannot set the permissions of", output, errno);
    return static_cast<double>(totalFrames) / sampleRate;
}

} // namespace parlo
