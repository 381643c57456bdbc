#include "capture/TimelineTrack.h"

#include "core/ParloError.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace parlo {

namespace {

[[noreturn]] void throwErrno(const std::string& what, const std::filesystem::path& path, int error) {
    throw TrackError(what + " " + path.string() + ": " + std::strerror(error),
                     std::error_code(error, std::generic_category()));
}

} // namespace

TimelineTrack::TimelineTrack(std::filesystem::path url) : url_(std::move(url)) {
    // O_TRUNC empties a file left by an earlier attempt; fchmod narrows one that was created wider.
    fd_ = ::open(url_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0)
        throwErrno("Cannot open", url_, errno);
    ::fchmod(fd_, 0600);
}

TimelineTrack::~TimelineTrack() {
    if (fd_ >= 0)
        ::close(fd_);
}

void TimelineTrack::write(std::span<const float> samples, double seconds) {
    if (!std::isfinite(seconds) || seconds < earliestOffset || seconds >= latestOffset)
        return;
    if (samples.data() == nullptr || samples.empty())
        return;
    if (fd_ < 0)
        throwErrno("Cannot write", url_, EBADF);

    // llround rounds halves away from zero; an early buffer is written whole from frame 0.
    const long long startFrame = std::llround(seconds * sampleRate);
    const long long position = startFrame < 0 ? 0 : startFrame;

    // Counted before the write: a failed one may still have changed part of its range.
    const auto count = static_cast<std::int64_t>(samples.size());
    endFrame_ = std::max<std::int64_t>(endFrame_, position + count);
    if (position < mixedUpTo_)
        changedBehindMix_ = true;

    static_assert(sizeof(float) == 4);
    const auto* bytes = reinterpret_cast<const char*>(samples.data());
    std::size_t remaining = samples.size() * sizeof(float);
    off_t offset = static_cast<off_t>(position) * static_cast<off_t>(sizeof(float));
    // pwrite seeks and writes in one call; an offset past the end leaves a hole that reads as zeros.
    while (remaining > 0) {
        const ssize_t written = ::pwrite(fd_, bytes, remaining, offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throwErrno("Cannot write", url_, errno);
        }
        bytes += written;
        remaining -= static_cast<std::size_t>(written);
        offset += written;
    }
    receivedFrames_ += static_cast<std::int64_t>(samples.size());
    unsyncedFrames_ += static_cast<std::int64_t>(samples.size());
    if (unsyncedFrames_ >= syncInterval) {
        // The data, not the times: a power cut then loses at most the last interval of audio.
        if (::fdatasync(fd_) != 0)
            throwErrno("Cannot flush", url_, errno);
        unsyncedFrames_ = 0;
    }
}

void TimelineTrack::close() {
    if (fd_ < 0)
        return;
    const int fd = fd_;
    fd_ = -1;
    const int syncResult = ::fsync(fd);
    const int syncError = errno;
    const int closeResult = ::close(fd);
    const int closeError = errno;
    if (syncResult != 0)
        throwErrno("Cannot flush", url_, syncError);
    if (closeResult != 0)
        throwErrno("Cannot close", url_, closeError);
}

} // namespace parlo
