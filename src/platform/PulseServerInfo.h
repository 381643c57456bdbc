#pragma once

#include <chrono>
#include <string>

namespace parlo {

// The sound server's default devices as one short blocking query sees them.
struct SoundServerDevices {
    bool reachable = false;         // the server answered
    std::string error;              // why not, when unreachable
    std::string defaultSink;        // empty when there is none
    std::string defaultSinkMonitor; // the monitor source of the default sink, empty when none
    std::string defaultSource;      // empty when there is none
    bool defaultSourceIsMonitor = false;
};

// Connects to the sound server (PULSE_SERVER or the user's default), reads the defaults and
// disconnects. Never throws; gives up after `timeout`.
SoundServerDevices
querySoundServerDevices(std::chrono::milliseconds timeout = std::chrono::milliseconds(1500));

// Records from the default sink's monitor until data arrives. Throws PlatformError with the
// server's description, or ParloError(CaptureText::noSystemAudio)
// when the server offers no monitor to record. Blocks up to `timeout`.
void recordFromDefaultMonitor(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

// The identity our own connections carry, so that call detection skips us.
inline constexpr const char* ownApplicationId = "com.fernwick.parlo";
inline constexpr const char* ownApplicationName = "Mello Parlo";

} // namespace parlo
