// Mixes two long speech-like tracks (2 h and 1 h 30) with AudioMixer and, in the same run on the same
// files, does the same job with the FFmpeg command line, then encodes one track alone with it.
// Prints each job's speed as a multiple of real time and this process's peak memory.
//
//   build/<dir>/bench/mixer_bench [folder]   (folder defaults to a fresh one under /tmp)

#include "capture/AudioCodec.h"
#include "capture/AudioMixer.h"
#include "platform/PlatformParts.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int rate = 16000;

// Voiced syllables (a few harmonics of a wandering pitch) about four times a second, with breath
// noise and pauses between phrases: enough variety that the encoder works as it would on speech.
void writeSpeechLike(const std::filesystem::path& path, double seconds, unsigned seed) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::uniform_real_distribution<double> pitch(90.0, 220.0);
    std::uniform_real_distribution<double> syllable(0.12, 0.35);
    std::vector<float> block(rate);
    const auto total = static_cast<std::int64_t>(seconds * rate);
    double phase = 0;
    double f0 = pitch(random);
    std::int64_t syllableEnd = 0;
    std::int64_t syllableStart = 0;
    bool pause = false;
    for (std::int64_t written = 0; written < total;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(rate, total - written));
        for (std::size_t i = 0; i < n; ++i) {
            const std::int64_t t = written + static_cast<std::int64_t>(i);
            if (t >= syllableEnd) {
                syllableStart = t;
                syllableEnd = t + static_cast<std::int64_t>(syllable(random) * rate);
                pause = (random() % 7) == 0;
                f0 = pitch(random);
            }
            const double progress =
                static_cast<double>(t - syllableStart) / static_cast<double>(syllableEnd - syllableStart);
            const double envelope = pause ? 0.01 : std::sin(std::numbers::pi * progress);
            phase += 2 * std::numbers::pi * f0 / rate;
            double voiced = 0;
            for (int h = 1; h <= 6; ++h)
                voiced += std::sin(phase * h) / h;
            block[i] = static_cast<float>(0.15 * envelope * voiced) + 0.01f * noise(random);
        }
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n * 4));
        written += static_cast<std::int64_t>(n);
    }
}

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

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1
                                             ? std::filesystem::path(argv[1])
                                             : std::filesystem::temp_directory_path() / "parlo-mixer-bench";
    std::filesystem::create_directories(folder);
    const auto system = folder / "system.pcm";
    const auto microphone = folder / "microphone.pcm";
    const double longest = 7200.0;
    std::printf("generating 2 h and 1 h 30 of speech-like audio in %s\n", folder.c_str());
    writeSpeechLike(system, longest, 1);
    writeSpeechLike(microphone, 5400.0, 2);
    const long peakBefore = peakKilobytes();

    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    const double duration = parlo::AudioMixer::mix(system, microphone, folder / "conversation.m4a",
                                                   *parlo::platform::ffmpegCodec());
    const std::chrono::duration<double> mixerWall = std::chrono::steady_clock::now() - start;
    const Cost mixer{mixerWall.count(), cpuSeconds(RUSAGE_SELF) - cpuBefore};
    const long peakAfter = peakKilobytes();

    const std::string in =
        "ffmpeg -nostdin -loglevel error -y -f f32le -ar 16000 -ac 1 -i " + system.string();
    const std::string mixCommand = in + " -f f32le -ar 16000 -ac 1 -i " + microphone.string() +
                                   " -filter_complex \"[0:a][1:a]amix=inputs=2:duration=longest:normalize=0,"
                                   "aeval=exprs='if(isnan(val(0))+isinf(val(0)),0,max(-0.98,min(0.98,val(0)))"
                                   ")':c=same\" -c:a aac -b:a 48k " +
                                   (folder / "ffmpeg-mix.m4a").string();
    const Cost ffmpegMix = timeCommand(mixCommand);
    const Cost ffmpegOne = timeCommand(in + " -c:a aac -b:a 48k " + (folder / "ffmpeg-one.m4a").string());

    std::printf("audio length              %.1f s (mixer returned %.1f s)\n", longest, duration);
    print("AudioMixer::mix", longest, mixer);
    print("ffmpeg amix+aeval+aac", longest, ffmpegMix);
    print("ffmpeg aac, one track", longest, ffmpegOne);
    std::printf("peak memory of this process: %.1f MB before the mix, %.1f MB after (goal < 48 MB)\n",
                static_cast<double>(peakBefore) / 1024.0, static_cast<double>(peakAfter) / 1024.0);
    std::printf("output sizes: mixer %.1f MB, ffmpeg mix %.1f MB\n",
                static_cast<double>(std::filesystem::file_size(folder / "conversation.m4a")) / 1e6,
                static_cast<double>(std::filesystem::file_size(folder / "ffmpeg-mix.m4a")) / 1e6);
    if (argc <= 1)
        std::filesystem::remove_all(folder);
    return 0;
}
