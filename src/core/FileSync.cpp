#include "core/FileSync.h"

#include "core/ParloError.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace parlo {

namespace {

void syncPath(const std::filesystem::path& path, int flags, const char* what) {
    const int fd = ::open(path.c_str(), flags | O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw PlatformError::fromErrno(what, path, errno);
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0)
        throw PlatformError::fromErrno(what, path, error);
}

} // namespace

void syncFile(const std::filesystem::path& file) {
    syncPath(file, 0, "Cannot flush");
}

void syncFolder(const std::filesystem::path& folder) {
    syncPath(folder, O_DIRECTORY, "Cannot flush the folder");
}

} // namespace parlo
