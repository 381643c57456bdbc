#pragma once

#include "detection/AudioProcesses.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace parlo {

// Who a sound-server client or stream says it is (its "application.*" properties), and what the
// server itself recorded about the connection.
struct SoundServerIdentity {
    std::string applicationId;    // application.id
    std::string processBinary;    // application.process.binary
    std::string applicationName;  // application.name
    std::int32_t processId = 0;   // application.process.id, as the client reports it; 0 when absent
    std::int32_t securityPid = 0; // pipewire.sec.pid: PipeWire's record of the socket's peer; 0 when absent
    std::string clientApi; // client.api: "pipewire-pulse" for the clients PipeWire's pulse layer relays
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
    std::string resampleMethod; // "peaks" for level meters on PulseAudio
    bool peakDetect = false;    // resample.peaks: how PipeWire marks a level meter ("PipeWire" resamples all)
    std::string mediaName;
    SoundServerIdentity identity; // the stream's own properties; empty fields fall back to the client's
};

struct SoundServerState {
    std::vector<SoundServerClient> clients;
    std::vector<SoundServerStream> streams;
    // PipeWire's pulse layer answers: only there is pipewire.sec.pid written by the server (on
    // PulseAudio it would be a property like any other, set by whoever wants to).
    bool pipeWire = false;
    // The pid of the process that serves us (pipewire-pulse), when known: the pipewire.sec.pid of
    // every client it relays, since it is the one connected to PipeWire. 0 when unknown.
    std::int32_t serverPid = 0;
};

// What the rules of call detection see in that state (no I/O; `applicationOf` maps a pid to the
// pid of its application).

using ApplicationOf = std::function<std::int32_t(std::int32_t)>;

// The pid of the process behind a client or stream: pipewire.sec.pid where it is known to be the
// client's own (on PipeWire, for a client that is neither relayed by the pulse layer nor the server
// itself: the kernel's word, right even for a sandboxed client), otherwise application.process.id.
// 0 when there is neither.
std::int32_t processIdOf(const SoundServerIdentity& identity, const SoundServerState& state);

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

// What the probes read from the machine: the sound server's clients and streams, and the process
// table. The application reads the sound server and /proc; tests describe both.
class AudioSystem {
public:
    virtual ~AudioSystem() = default;
    // The sound server's clients and streams; nothing when no server answers in time. Never throws.
    virtual std::optional<SoundServerState> soundServerState() = 0;
    // Maps a pid to the pid of its application; the mapping may cache, so take one per snapshot.
    virtual ApplicationOf applications() = 0;
    // The pids of the processes whose executable's file name is one of `names`.
    virtual std::vector<std::int32_t> processesRunning(const std::vector<std::string_view>& names) = 0;
};

} // namespace parlo
