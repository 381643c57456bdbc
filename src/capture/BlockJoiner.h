#pragma once

#include "capture/CaptureSource.h"

#include <vector>

namespace parlo {

// Joins one source's chunks into blocks of at least `minimumSeconds` of audio, keeping each chunk's
// timing reading at its frame. A change of format or a reported break ends the block before it, so
// a block has one format and a break can only come before its first frame. Not thread-safe: the
// capture service's thread adds, and the stop flushes after the service has stopped.
class BlockJoiner {
public:
    explicit BlockJoiner(double minimumSeconds = 0.1);

    // Takes the next chunk; returns the blocks completed by it (none, one, or two when a new
    // format's first chunk is itself long enough).
    std::vector<CaptureBlock> add(CapturedChunk&& chunk);

    // The block begun so far, if it holds anything.
    std::vector<CaptureBlock> flush();

private:
    double minimumSeconds_;
    CaptureBlock block_;
};

} // namespace parlo
