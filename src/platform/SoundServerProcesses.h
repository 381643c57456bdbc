#pragma once

#include "detection/SoundServerState.h"

#include <chrono>
#include <optional>

namespace parlo::platform {

// How long the probe may wait for the sound server. The monitoring tick calls it on the main
// thread every 0.8 s; a healthy local server answers in a few milliseconds.
inline constexpr std::chrono::milliseconds soundServerQueryTimeout{300};

// Reads clients and streams from the sound server in one connection. nullopt when no server is
// reachable, it refuses the connection or a query, or the whole answer does not arrive within
// `timeout`. Never starts a server.
std::optional<SoundServerState> querySoundServer(std::chrono::milliseconds timeout = soundServerQueryTimeout);

} // namespace parlo::platform
