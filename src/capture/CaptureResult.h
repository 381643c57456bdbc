#pragma once

#include <QStringList>

#include <cstdint>
#include <filesystem>

namespace parlo {

// What a finished capture hands back to its owner.
struct CaptureResult {
    std::filesystem::path file;        // the mixed file, always <folder>/conversation.m4a
    double duration = 0.0;             // seconds: frames handed to the encoder / 16000
    std::int64_t systemFrames = 0;     // frames the system-audio track received
    std::int64_t microphoneFrames = 0; // frames the microphone track received
    QStringList warnings;              // zero, one or two notices for the user, in order
};

} // namespace parlo
