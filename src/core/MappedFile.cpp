#include "core/MappedFile.h"

#include "core/CoreTexts.h"
#include "core/ParloError.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parlo {

std::optional<std::shared_ptr<MappedFile>> MappedFile::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw PlatformError::fromErrno(CoreText::fileUnreadable, path, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw PlatformError::fromErrno(CoreText::fileUnreadable, path, error);
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size == 0) {
        ::close(fd);
        return std::shared_ptr<MappedFile>(new MappedFile("", 0));
    }
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    const int error = errno;
    ::close(fd); // the mapping keeps the file open
    if (data == MAP_FAILED)
        throw PlatformError::fromErrno(CoreText::fileUnreadable, path, error);
    // Read once front to back at loading: ask for generous read-ahead.
    ::madvise(data, size, MADV_SEQUENTIAL);
    return std::shared_ptr<MappedFile>(new MappedFile(static_cast<const char*>(data), size));
}

MappedFile::~MappedFile() {
    if (size_ > 0)
        ::munmap(const_cast<char*>(data_), size_);
}

void MappedFile::releaseBefore(std::size_t offset) const {
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t end = offset >= size_ ? size_ : offset / page * page;
    if (end <= released_)
        return;
    // The pages are the file's own and unchanged, so dropping them loses nothing.
    ::madvise(const_cast<char*>(data_) + released_, end - released_, MADV_DONTNEED);
    released_ = end;
    if (end == size_)
        ::madvise(const_cast<char*>(data_), size_, MADV_NORMAL); // later reads are of single ranges
}

} // namespace parlo
