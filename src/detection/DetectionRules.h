#pragma once

#include "detection/AudioProcesses.h"
#include "detection/CallActivitySnapshot.h"
#include "detection/ZoomSnapshot.h"

#include <vector>

namespace parlo {

// Which other applications take part in a call: those capturing input, plus Zoom while it only
// plays. This program and the system's own processes never count.
CallActivitySnapshot evaluateCallActivity(const AudioProcessList& audio,
                                          const std::vector<RunningApplication>& applications,
                                          const OwnIdentity& own);

// The Zoom client alone: whether it runs, how many of its processes use audio, and how.
ZoomSnapshot evaluateZoom(const AudioProcessList& audio, const std::vector<RunningApplication>& applications);

} // namespace parlo
