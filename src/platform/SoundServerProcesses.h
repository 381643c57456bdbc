#pragma once

#include "detection/AudioProcesses.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace parlo::platform {

// Who a sound-server client or stream says it is (its "application.*" properties).
struct SoundServerIdentity {
    std::string applicationId;   // application.id
    std::string processBinary;   // application.process.binary
    std::string applicationName; // application.name
    std::int32_t pid = 0;        // pipewire.sec.pid or application.process.id; 0 when neither is a pid
};

struct SoundServerClient {
    std::uint32_t index = 0;
    SoundServerIdentity identity;
};

// One playback stream (sink input) or recording stream (source output).
struct SoundServerStream {
    enum class Direction { Playback, Record };
    static constexpr std::uint32_t noClient = 0xffffffffU;

    Direction direction = Direction::Playback;
    std::uint32_t client = noClient; // streams of server modules (loopbacks ...) have none
    bool corked = false;
    bool fromMonitor = false;   // Record: its source is the monitor of an output
    std::string resampleMethod; // "peaks" for level meters
    std::string mediaName;
    SoundServerIdentity identity; // the stream's own properties; empty fields fall back to the client's
};

struct SoundServerState {
    std::vector<SoundServerClient> clients;
    std::vector<SoundServerStream> streams;
};

// How long the probe may wait for the sound server. The monitoring tick calls it on the main
// thread every 0.8 s; a healthy local server answers in a few milliseconds.
inline constexpr std::chrono::milliseconds soundServerQueryTimeout{300};

// Reads clients and streams from the sound server in one connection. nullopt when no server is
// reachable, it refuses the connection or a query, or the whole answer does not arrive within
// `timeout`. Never starts a server.
std::optional<SoundServerState> querySoundServer(std::chrono::milliseconds timeout = soundServerQueryTimeout);

// --- What the rules of call detection see in that state (no I/O; `applicationOf` maps a pid to
// the pid of its application, see ProcessAncestry). ---

using ApplicationOf = std::function<std::int32_t(std::int32_t)>;

// The identifier the rules compare: application.id when set, otherwise the binary's name. Zoom's
// Linux identities become Zoom's identifier, this program's binary becomes its own identifier.
std::string bundleIdentifierOf(const SoundServerIdentity& identity);

// Level meters of volume controls record with peak detection; they are never a call.
bool isLevelMeter(const SoundServerStream& stream, const SoundServerIdentity& identity);

// One audio process per application and identifier: its streams' running input (recording from a
// real input, not paused) and running output (playing, not paused) combined. Streams without a
// client and level meters are left out.
AudioProcessList audioProcessesOf(const SoundServerState& state, const ApplicationOf& applicationOf);

// The clients as running applications, one entry per client with a pid, the entry that best names
// the application first: the client of the application process itself, then the shortest name
// (helpers name their connections after the application plus a role, like "Chromium input").
std::vector<RunningApplication> runningApplicationsOf(const SoundServerState& state,
                                                      const ApplicationOf& applicationOf);

} // namespace parlo::platform
