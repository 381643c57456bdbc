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

// A read-only file descriptor closed on every exit; close errors are of no interest to a reader.
class InputTrack {
public:
    explicit InputTrack(const std::filesystem::path& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            throw PlatformError::fromErrno("Cannot open", path, errno);
    }
    ~InputTrack() { ::close(fd_); }
    InputTrack(const InputTrack&) = delete;
    InputTrack& operator=(const InputTrack&) = delete;

    // Reads up to `size` bytes; fewer only at the end of the file.
    std::size_t read(char* buffer, std::size_t size) {
        std::size_t total = 0;
        while (total < size) {
            const ssize_t got = ::read(fd_, buffer + total, size - total);
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

double AudioMixer::mix(const std::filesystem::path& system, const std::filesystem::path& microphone,
                       const std::filesystem::path& output, AudioCodec& codec) {
    InputTrack systemTrack(system);
    InputTrack microphoneTrack(microphone);
    const std::unique_ptr<AudioEncoder> writer = codec.createEncoder(output, sampleRate, bitRate);

    std::vector<char> systemChunk(chunkBytes);
    std::vector<char> microphoneChunk(chunkBytes);
    std::vector<float> mixed(chunkBytes / 4);
    std::int64_t totalFrames = 0;
    for (;;) {
        const std::size_t systemBytes = systemTrack.read(systemChunk.data(), chunkBytes);
        const std::size_t microphoneBytes = microphoneTrack.read(microphoneChunk.data(), chunkBytes);
        if (std::max(systemBytes, microphoneBytes) < 4)
            break;
        const std::size_t frames =
            mixChunk(systemChunk.data(), systemBytes, microphoneChunk.data(), microphoneBytes, mixed.data());
        writer->write(std::span<const float>(mixed.data(), frames));
        totalFrames += static_cast<std::int64_t>(frames);
    }
    writer->finish();
    if (::chmod(output.c_str(), 0600) != 0)
        throw PlatformError::fromErrno("Cannot set the permissions of", output, errno);
    return static_cast<double>(totalFrames) / sampleRate;
}

} // namespace parlo
