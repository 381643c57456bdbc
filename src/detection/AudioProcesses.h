#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlo {

// One process that the sound server knows as a user of audio.
struct AudioProcess {
    std::int32_t pid = 0;         // 0 when the process id is unknown
    std::string bundleIdentifier; // empty when unknown: the running application's identifier is used
    bool runningInput = false;    // capturing from a real input (not a monitor of an output)
    bool runningOutput = false;   // playing, not paused
};

// The list of audio processes, or the fact that it could not be read.
struct AudioProcessList {
    bool readable = true;
    std::vector<AudioProcess> processes;

    static AudioProcessList unreadable() { return {false, {}}; }
};

// An application that runs on the desktop; the first entry of a process id wins in a lookup.
struct RunningApplication {
    std::int32_t pid = 0;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
};

// The identity of this program, which never counts as a call.
struct OwnIdentity {
    std::int32_t pid = 0;
    std::string bundleIdentifier;
};

inline constexpr std::string_view ownBundleIdentifier = "com.fernwick.parlo";
inline constexpr std::string_view zoomBundleIdentifier = "us.zoom.xos";

// True for `base` itself and for `base` followed by "." and anything: exact, case-sensitive.
bool isIdentifierOrSubIdentifier(std::string_view identifier, std::string_view base);

// Zoom's identifier test, shared by both probes.
inline bool isZoomIdentifier(std::string_view identifier) {
    return isIdentifierOrSubIdentifier(identifier, zoomBundleIdentifier);
}

} // namespace parlo
