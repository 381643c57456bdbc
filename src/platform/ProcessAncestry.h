#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace parlo::platform {

// Finds the application a process belongs to by walking /proc parents. A browser plays and
// records from helper processes started from its own executable; the application is the topmost
// ancestor running the same executable. Lookups are cached for the life of the object, so create
// one per snapshot.
class ProcessAncestry {
public:
    // The application's pid for `pid`: `pid` itself when its parent runs another program, or when
    // /proc knows nothing about it.
    std::int32_t applicationOf(std::int32_t pid);

private:
    const std::string& imageOf(std::int32_t pid);

    std::unordered_map<std::int32_t, std::int32_t> applications_;
    std::unordered_map<std::int32_t, std::string> images_; // the clients' common parents are read once
};

// The parent pid from /proc/<pid>/stat, or 0 when the process is gone or unreadable.
std::int32_t parentProcessOf(std::int32_t pid);

// What a process runs: the target of /proc/<pid>/exe, or "comm:" + its command name when the link
// cannot be read (another user's process). Empty when the process is gone.
std::string processImageOf(std::int32_t pid);

// The pids of all processes whose executable's file name (or, unreadable, command name) is one
// of `names`.
std::vector<std::int32_t> processesRunning(const std::vector<std::string_view>& names);

} // namespace parlo::platform
