#include "platform/ProcessAncestry.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace parlo::platform {

namespace {

// Enough for any real process tree; stops a loop should /proc ever report one.
constexpr int maximumDepth = 64;

std::string readSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::array<char, 1024> buffer{};
    std::string text;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

std::string procPath(std::int32_t pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

std::string_view fileNameOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

std::int32_t parentProcessOf(std::int32_t pid) {
    if (pid <= 0)
        return 0;
    const std::string stat = readSmallFile(procPath(pid, "stat"));
    // "pid (comm) state ppid ...": comm may hold blanks and parentheses, so parse after the last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size())
        return 0;
    const char* begin = stat.data() + close + 4; // skip ") S "
    const char* end = stat.data() + stat.size();
    std::int32_t parent = 0;
    const auto [ptr, error] = std::from_chars(begin, end, parent);
    return error == std::errc() ? parent : 0;
}

std::string processImageOf(std::int32_t pid) {
    if (pid <= 0)
        return {};
    std::array<char, 4096> target{};
    const ssize_t length = ::readlink(procPath(pid, "exe").c_str(), target.data(), target.size() - 1);
    if (length > 0) {
        std::string image(target.data(), static_cast<std::size_t>(length));
        // An upgraded package leaves the running browser on a deleted file while its newer
        // helpers run the replacement: the same program all the same.
        constexpr std::string_view deleted = " (deleted)";
        if (image.ends_with(deleted))
            image.resize(image.size() - deleted.size());
        return image;
    }
    std::string comm = readSmallFile(procPath(pid, "comm"));
    while (!comm.empty() && comm.back() == '\n')
        comm.pop_back();
    return comm.empty() ? std::string() : "comm:" + comm;
}

const std::string& ProcessAncestry::imageOf(std::int32_t pid) {
    auto found = images_.find(pid);
    if (found == images_.end())
        found = images_.emplace(pid, processImageOf(pid)).first;
    return found->second;
}

std::int32_t ProcessAncestry::applicationOf(std::int32_t pid) {
    if (pid <= 0)
        return pid;
    if (const auto cached = applications_.find(pid); cached != applications_.end())
        return cached->second;

    std::int32_t current = pid;
    const std::string image = imageOf(current);
    for (int depth = 0; depth < maximumDepth && !image.empty(); ++depth) {
        const std::int32_t parent = parentProcessOf(current);
        if (parent <= 1)
            break;
        if (imageOf(parent) != image)
            break;
        current = parent;
    }
    applications_.emplace(pid, current);
    return current;
}

std::vector<std::int32_t> processesRunning(const std::vector<std::string_view>& names) {
    std::vector<std::int32_t> found;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), &::closedir);
    if (!proc)
        return found;
    while (const dirent* entry = ::readdir(proc.get())) {
        std::int32_t pid = 0;
        const std::string_view name(entry->d_name);
        const auto [ptr, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (error != std::errc() || ptr != name.data() + name.size() || pid <= 0)
            continue;
        const std::string image = processImageOf(pid);
        if (image.empty())
            continue;
        const std::string_view program =
            image.starts_with("comm:") ? std::string_view(image).substr(5) : fileNameOf(image);
        if (std::find(names.begin(), names.end(), program) != names.end())
            found.push_back(pid);
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace parlo::platform
