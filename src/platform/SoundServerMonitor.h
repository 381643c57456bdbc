#pragma once

#include "detection/SoundServerState.h"
#include "platform/PulseServerInfo.h"

#include <chrono>
#include <memory>
#include <optional>

namespace parlo::platform {

// A quiet server and a hung one look alike: both say nothing. So the monitor asks the server for its
// defaults every `monitorPingInterval` while nothing else is outstanding, and a server that owes an
// answer for longer than `monitorAnswerDeadline` counts as unavailable until it answers again: a
// server that stops answering is seen as unavailable within about two seconds.
inline constexpr std::chrono::milliseconds monitorPingInterval{1000};
inline constexpr std::chrono::milliseconds monitorAnswerDeadline{1000};

// One long-lived connection to the sound server (PULSE_SERVER or the user's default; never spawns
// one) on its own libpulse thread, kept current by the server's subscription events: clients,
// playback and recording streams, devices and the default devices. Readers get the last complete
// picture from memory, on any thread, without waiting for the server. When the server goes away
// the monitor reconnects with a growing pause (0.1 s doubling to 2 s) and so follows a restarted
// server. Our own connection carries application.id "com.fernwick.parlo", so detection skips it.
class SoundServerMonitor {
public:
    SoundServerMonitor();
    ~SoundServerMonitor();
    SoundServerMonitor(const SoundServerMonitor&) = delete;
    SoundServerMonitor& operator=(const SoundServerMonitor&) = delete;

    // Waits up to `limit` for the first complete picture, or for the first failed connection (no
    // server: that is an answer too). For one-shot callers and for the start of the application;
    // true when settled. Returns at once afterwards.
    bool waitUntilSettled(std::chrono::milliseconds limit) const;

    // The server's clients and streams; nothing while no server is connected, the first picture is
    // incomplete or the server does not answer.
    std::optional<SoundServerState> state() const;
    // The application pid of every pid in the last picture (/proc ancestry, resolved on the
    // monitor's thread when a client or stream appears); other pids map to themselves.
    ApplicationOf applications() const;
    // The default devices as the permission checks need them; `reachable` false on the same
    // conditions as state() being empty.
    SoundServerDevices devices() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace parlo::platform
