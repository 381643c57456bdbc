// The recorder's per-block work on its audio queue, for one 100 ms block of 48 kHz stereo float:
// libswresample alone, then the whole handler (conversion + track write + level), then the handler
// behind the shared clock, as the queue runs it. The "share of a core" counter is the time per
// block divided by the 100 ms of audio it carries: what one source costs at real time. The whole
// recording, sound server included, is measured by recording_bench.
//
//   build/<dir>/bench/capture_handler_bench [--benchmark_min_time=2]

#include "capture/CaptureHandler.h"
#include "capture/StreamClock.h"
#include "capture/TimelineTrack.h"
#include "codec/AudioConverter.h"
#include "codec/FfmpegCodec.h"
#include "platform/PlatformParts.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <unistd.h>
#include <vector>

namespace {

constexpr int frames = 4800; // 100 ms at 48 kHz
constexpr double bufferSeconds = 0.1;

std::vector<float> speechLikeStereo() {
    std::vector<float> v(frames * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 48000;
        const auto x = static_cast<float>(0.2 * std::sin(2 * std::numbers::pi * 180 * t) +
                                          0.05 * std::sin(2 * std::numbers::pi * 1250 * t));
        v[2 * i] = x;
        v[2 * i + 1] = 0.8f * x;
    }
    return v;
}

void reportShare(benchmark::State& state) {
    // CPU time per block over the 100 ms of audio it carries, in per cent: the library divides the
    // measured time per iteration by this value.
    state.counters["share_of_core_%"] = benchmark::Counter(
        bufferSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

const std::shared_ptr<parlo::AudioCodec> codec = std::make_shared<parlo::FfmpegCodec>();

std::filesystem::path trackPath(const char* name) {
    return std::filesystem::temp_directory_path() /
           (std::string("parlo-bench-") + std::to_string(::getpid()) + name);
}

void BM_ResampleOnly(benchmark::State& state) {
    parlo::AudioConverter converter(48000, 2, 16000);
    const auto input = speechLikeStereo();
    std::vector<float> out;
    for (auto _ : state) {
        converter.convert(input.data(), frames, out);
        benchmark::DoNotOptimize(out.data());
    }
    reportShare(state);
}
BENCHMARK(BM_ResampleOnly);

void BM_Handler(benchmark::State& state) {
    const auto system = trackPath("-system.pcm");
    const auto microphone = trackPath("-microphone.pcm");
    {
        parlo::TimelineTrack systemTrack(system);
        parlo::TimelineTrack microphoneTrack(microphone);
        parlo::CaptureHandler handler(*codec);
        handler.setTracks(&systemTrack, &microphoneTrack);
        float sink = 0;
        handler.onLevel = [&sink](float s, float m) { sink += s + m; };
        const auto input = speechLikeStereo();
        double t = 1000.0;
        for (auto _ : state) {
            handler.handle(parlo::CaptureSourceKind::system, 48000, 2, input, {t, 0.0, true});
            t += bufferSeconds;
            // Stay within the track's window, as a two-hour recording does.
            if (t > 1000.0 + 7000.0)
                t = 1000.0;
        }
        benchmark::DoNotOptimize(sink);
        reportShare(state);
    }
    std::filesystem::remove(system);
    std::filesystem::remove(microphone);
}
BENCHMARK(BM_Handler);

void BM_ClockAndHandler(benchmark::State& state) {
    const auto system = trackPath("-system2.pcm");
    {
        parlo::TimelineTrack systemTrack(system);
        parlo::CaptureHandler handler(*codec);
        handler.setTracks(&systemTrack, nullptr);
        parlo::StreamClock clock;
        const auto input = speechLikeStereo();
        double read = 1000.0;
        for (auto _ : state) {
            // The copy stands for the one the sound server's thread makes when it joins a block.
            parlo::CaptureBlock block;
            block.sampleRate = 48000;
            block.channels = 2;
            block.samples = input;
            for (int piece = 1; piece <= 5; ++piece)
                block.readings.push_back({piece * frames / 5, read + piece * bufferSeconds / 5, 0.0});
            read += bufferSeconds;
            if (read > 1000.0 + 7000.0) {
                state.PauseTiming();
                clock = parlo::StreamClock();
                handler.reset();
                read = 1000.0;
                state.ResumeTiming();
            }
            for (auto& [placedBlock, placement] : clock.add(std::move(block)))
                handler.handle(placedBlock.source, 48000, 2, placedBlock.samples, placement);
        }
        reportShare(state);
    }
    std::filesystem::remove(system);
}
BENCHMARK(BM_ClockAndHandler);

} // namespace

BENCHMARK_MAIN();
