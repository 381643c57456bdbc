#include "capture/BlockJoiner.h"

#include <cmath>

namespace parlo {

BlockJoiner::BlockJoiner(double minimumSeconds) : minimumSeconds_(minimumSeconds) {}

std::vector<CaptureBlock> BlockJoiner::add(CapturedChunk&& chunk) {
    std::vector<CaptureBlock> done;
    if (chunk.channels <= 0 || chunk.sampleRate <= 0 || chunk.frames() < 1)
        return done;
    const bool sameFormat = block_.sampleRate == chunk.sampleRate && block_.channels == chunk.channels;
    if (!block_.samples.empty() && (!sameFormat || chunk.discontinuity))
        done = flush();
    if (block_.samples.empty()) {
        block_.source = chunk.source;
        block_.sampleRate = chunk.sampleRate;
        block_.channels = chunk.channels;
        block_.discontinuity = chunk.discontinuity;
        block_.readings.clear();
        // Room for the whole block and one more chunk, so that joining rarely reallocates.
        const auto wanted = static_cast<std::size_t>(std::ceil(minimumSeconds_ * chunk.sampleRate)) *
                                static_cast<std::size_t>(chunk.channels) +
                            chunk.samples.size();
        block_.samples.reserve(wanted);
    }
    // Whole frames only: a stray sample would shift every channel after it.
    const auto usable = static_cast<std::size_t>(chunk.frames()) * static_cast<std::size_t>(chunk.channels);
    block_.samples.insert(block_.samples.end(), chunk.samples.begin(),
                          chunk.samples.begin() + static_cast<std::ptrdiff_t>(usable));
    block_.readings.push_back(TimingReading{block_.frames(), chunk.readTime, chunk.latency});
    if (block_.frames() >= minimumSeconds_ * block_.sampleRate)
        for (auto& block : flush())
            done.push_back(std::move(block));
    return done;
}

std::vector<CaptureBlock> BlockJoiner::flush() {
    std::vector<CaptureBlock> done;
    if (block_.samples.empty())
        return done;
    done.push_back(std::move(block_));
    block_ = CaptureBlock{};
    return done;
}

} // namespace parlo
