// The stop of a 2 h call: the recorder is fed a whole call at full speed through its real path
// (blocks, clocks, converters, tracks on disk, the mix made while recording), then stopped and timed.
// In the same run and on the same tracks: the stop as it was (the whole call mixed after it, with
// the same durable finalization), the same mix with the FFmpeg command line, and FFmpeg encoding
// one track alone. Each as wall and CPU time and as a multiple of real time; also whether the two
// stops wrote the same file.
//
//   build/<dir>/bench/mixer_bench [folder] [seconds=7200]   (folder: a fresh one under /tmp)

#include "SpeechLike.h"
#include "capture/AudioCodec.h"
#include "capture/AudioMixer.h"
#include "capture/CapturePermissions.h"
#include "capture/CaptureSource.h"
#include "capture/RecordingFinalizer.h"
#include "capture/SystemAudioRecorder.h"
#include "codec/FfmpegCodec.h"
#include "platform/PlatformParts.h"

#include <QCoreApplication>
#include <qcoro/qcorotask.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

constexpr int rate = 16000;

// Plays a long call into the recorder as fast as its audio queue takes it: speech-like audio from
// both sources (the microphone falls silent earlier) in 20 ms buffers of 16 kHz mono, on a steady
// clock that runs as fast as the buffers come. It waits whenever the system track on disk is more
// than 20 s behind what it delivered, so that the queue stays short.
class FullSpeedCall final : public parlo::CaptureSource {
public:
    FullSpeedCall(std::filesystem::path systemTrack, double systemSeconds, double microphoneSeconds)
        : systemTrack_(std::move(systemTrack))
        , systemFrames_(static_cast<std::int64_t>(systemSeconds * rate))
        , microphoneFrames_(static_cast<std::int64_t>(microphoneSeconds * rate)) {}
    ~FullSpeedCall() override { stop(); }

    void prepare() override {}
    void start(ChunkHandler onChunk, StopHandler) override {
        thread_ = std::thread([this, onChunk = std::move(onChunk)] { play(onChunk); });
    }
    void stop() override {
        if (thread_.joinable())
            thread_.join();
    }

private:
    void play(const ChunkHandler& onChunk) {
        constexpr std::int64_t buffer = rate / 50;
        parlo::bench::SpeechLike speech[2] = {parlo::bench::SpeechLike(1), parlo::bench::SpeechLike(2)};
        for (std::int64_t at = 0; at < systemFrames_; at += buffer) {
            for (int source = 0; source < 2; ++source) {
                const std::int64_t end = source == 0 ? systemFrames_ : microphoneFrames_;
                if (at >= end)
                    continue;
                parlo::CapturedChunk chunk;
                chunk.source = static_cast<parlo::CaptureSourceKind>(source);
                chunk.sampleRate = rate;
                chunk.channels = 1;
                chunk.samples.resize(static_cast<std::size_t>(std::min(buffer, end - at)));
                speech[source].fill(chunk.samples);
                chunk.readTime = 1000.0 + static_cast<double>(at + buffer) / rate + 0.03;
                chunk.latency = 0.03;
                onChunk(std::move(chunk));
            }
            if (at % rate == 0) {
                std::error_code ignored;
                while (at - static_cast<std::int64_t>(std::filesystem::file_size(systemTrack_, ignored) / 4) >
                       20 * rate)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
    }

    std::filesystem::path systemTrack_;
    std::int64_t systemFrames_;
    std::int64_t microphoneFrames_;
    std::thread thread_;
};

class Granted final : public parlo::PermissionBackend {
public:
    bool microphoneAuthorized() override { return true; }
    bool systemAudioPreflight() override { return true; }
    QCoro::Task<> verifySystemAudio() override { co_return; }
};

// Wall time and CPU time (user + system) of one job. On a shared machine the CPU time is the
// fairer measure: it does not count the time other processes held the cores.
struct Cost {
    double wall = 0;
    double cpu = 0;
};

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Cost timeCommand(const std::string& command) {
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (status != 0) {
        std::fprintf(stderr, "command failed (%d): %s\n", status, command.c_str());
        std::exit(1);
    }
    return {elapsed.count(), cpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
}

void print(const char* name, double audio, const Cost& cost) {
    std::printf("%-26s wall %6.2f s (%6.1f x real time)   cpu %6.2f s (%6.1f x real time)\n", name, cost.wall,
                audio / cost.wall, cost.cpu, audio / cost.cpu);
}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

Cost timeSince(std::chrono::steady_clock::time_point start, double cpuBefore) {
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {wall.count(), cpuSeconds(RUSAGE_SELF) - cpuBefore};
}

bool sameBytes(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::ifstream first(a, std::ios::binary);
    std::ifstream second(b, std::ios::binary);
    return std::equal(std::istreambuf_iterator<char>(first), std::istreambuf_iterator<char>(),
                      std::istreambuf_iterator<char>(second), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::filesystem::path folder = argc > 1
                                             ? std::filesystem::path(argv[1])
                                             : std::filesystem::temp_directory_path() / "parlo-mixer-bench";
    std::filesystem::remove_all(folder / "recording");
    const auto recording = folder / "recording";
    const auto system = recording / "system.pcm";
    const auto microphone = recording / "microphone.pcm";
    const double longest = argc > 2 ? std::atof(argv[2]) : 7200.0;
    parlo::CapturePermissions::setBackend(std::make_shared<Granted>());
    const auto codec = std::make_shared<parlo::FfmpegCodec>();

    std::printf("recording a %.0f s call (the microphone for 3/4 of it) at full speed into %s\n", longest,
                recording.c_str());
    Cost stop;
    double stopDuration = 0;
    {
        parlo::SystemAudioRecorder recorder(
            [&] { return std::make_unique<FullSpeedCall>(system, longest, longest * 0.75); }, codec);
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        const auto fed = std::chrono::steady_clock::now();
        QCoro::waitFor(recorder.start(recording));
        // The call is over when the system track is on disk but for what the last unfinished block
        // and the converter still hold; the stop comes a moment later.
        std::error_code ignored;
        while (std::filesystem::file_size(system, ignored) <
               static_cast<std::uintmax_t>((longest - 0.2) * rate * 4))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const Cost feeding = timeSince(fed, cpuBefore);
        std::printf("fed in %.1f s (cpu %.1f s, %.0f x real time)\n", feeding.wall, feeding.cpu,
                    longest / feeding.wall);
        const double stopCpu = cpuSeconds(RUSAGE_SELF);
        const auto stopStart = std::chrono::steady_clock::now();
        const parlo::CaptureResult result = QCoro::waitFor(recorder.stop());
        stop = timeSince(stopStart, stopCpu);
        stopDuration = result.duration;
    }
    std::filesystem::rename(recording / "conversation.m4a", folder / "stop.m4a");

    // The stop as it was: the whole call mixed after it, with the same durable finalization.
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    const parlo::CaptureResult offlineResult = parlo::RecordingFinalizer::finalize(recording, *codec);
    const Cost offline = timeSince(start, cpuBefore);

    const std::string in =
        "ffmpeg -nostdin -loglevel error -y -f f32le -ar 16000 -ac 1 -i " + system.string();
    const std::string mixCommand = in + " -f f32le -ar 16000 -ac 1 -i " + microphone.string() +
                                   " -filter_complex \"[0:a][1:a]amix=inputs=2:duration=longest:normalize=0,"
                                   "aeval=exprs='if(isnan(val(0))+isinf(val(0)),0,max(-0.98,min(0.98,val(0)))"
                                   ")':c=same\" -c:a aac -b:a 48k " +
                                   (folder / "ffmpeg-mix.m4a").string();
    const Cost ffmpegMix = timeCommand(mixCommand);
    const Cost ffmpegOne = timeCommand(in + " -c:a aac -b:a 48k " + (folder / "ffmpeg-one.m4a").string());

    std::printf("\nstop of a %.0f s call, side by side (goal: the stop under 1 s)\n", longest);
    print("stop, mixed while recording", longest, stop);
    print("stop, mixed after the call", longest, offline);
    print("ffmpeg amix+aeval+aac", longest, ffmpegMix);
    print("ffmpeg aac, one track", longest, ffmpegOne);
    std::printf("durations: while recording %.3f s, after the call %.3f s; files byte-identical: %s\n",
                stopDuration, offlineResult.duration,
                sameBytes(folder / "stop.m4a", recording / "conversation.m4a") ? "yes" : "NO");
    std::printf("peak memory of this process: %.1f MB\n", static_cast<double>(peakKilobytes()) / 1024.0);
    if (argc <= 1)
        std::filesystem::remove_all(folder);
    return 0;
}
