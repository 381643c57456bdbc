#include "shell/CheckModes.h"

#include "detection/CallActivityProbe.h"
#include "detection/SnapshotJson.h"
#include "detection/ZoomProbe.h"
#include "platform/PlatformParts.h"

#include <cstdio>
#include <exception>
#include <string>

namespace parlo {

namespace {

// One compact JSON line on standard output. A snapshot that cannot be encoded (a name that is not
// valid UTF-8) prints nothing: the probe modes still end with status 0.
template <typename Snapshot> int printSnapshot(const Snapshot& snapshot) {
    std::string line;
    try {
        line = encodeSnapshot(snapshot);
    } catch (const std::exception&) {
        return 0;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace

int runZoomProbe() {
    return printSnapshot(ZoomProbe(platform::soundServerAudioSystem()).snapshot());
}

int runCallProbe() {
    return printSnapshot(CallActivityProbe(platform::soundServerAudioSystem()).snapshot());
}

} // namespace parlo
