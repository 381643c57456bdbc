// The real recorder on the test sound server for a minute, white noise playing into both sinks:
// the CPU it takes (the whole process, and its sound-server and audio-queue threads), and how
// sample-true its raw tracks are: each track located in its noise by cross-correlation gives the
// drift against the noise, the worst step of the lag (a cut or padding shows as a step), the holes,
// and how far the offset between the two tracks wandered. With load processes, ten seconds of busy
// loops run in the middle. The anchor: the recorder's own cost as capture_handler_bench measures it.
//
//   scripts/test-sound-server build/release/bench/recording_bench [seconds=60] [load-processes=0]

#include "capture/AudioCodec.h"
#include "capture/CapturePermissions.h"
#include "capture/SystemAudioRecorder.h"
#include "codec/FfmpegCodec.h"
#include "platform/PlatformParts.h"
#include "support/TestSoundServer.h"
#include "support/TrackLocator.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

using namespace parlo;

namespace {

void spin(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// CPU seconds so far of each thread of this process, by thread name.
std::map<std::string, double> threadTimes() {
    std::map<std::string, double> times;
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    DIR* tasks = ::opendir("/proc/self/task");
    while (dirent* entry = tasks ? ::readdir(tasks) : nullptr) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream stat(std::string("/proc/self/task/") + entry->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto open = line.find('(');
        const auto close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        std::string field;
        double user = 0, system = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                user = std::stod(field);
            if (i == 15)
                system = std::stod(field);
        }
        times[line.substr(open + 1, close - open - 1)] += (user + system) / tick;
    }
    if (tasks)
        ::closedir(tasks);
    return times;
}

std::vector<float> asTrack(AudioCodec& codec, const std::vector<float>& played) {
    auto converter = codec.createConverter(test::playbackRate, 1, 16000);
    std::vector<float> out;
    converter->convert(played.data(), static_cast<int>(played.size()), out);
    return out;
}

void report(const char* name, const test::TrackTimeline& t) {
    std::printf("  %-10s drift %+5.0f ppm against the noise; worst step %.2f ms, %d cuts over 1 ms; "
                "longest hole %.2f ms, %d holes over 1 ms; %zu windows located, %d not\n",
                name, t.driftPpm, static_cast<double>(t.worstStep) / 16, t.cuts,
                static_cast<double>(t.longestHole) / 16, t.holes, t.windows.size(), t.unlocated);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const int loadProcesses = argc > 2 ? std::atoi(argv[2]) : 0;
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        std::fprintf(stderr, "run under scripts/test-sound-server\n");
        return 2;
    }
    CapturePermissions::setBackend(platform::soundServerPermissions());
    const auto codec = std::make_shared<FfmpegCodec>();
    QTemporaryDir dir;
    const auto folder = std::filesystem::path(dir.path().toStdString()) / "recording";
    const auto systemNoise = test::whiteNoise(seconds + 10, 7, 0.3f);
    const auto microphoneNoise = test::whiteNoise(seconds + 10, 8, 0.3f);

    SystemAudioRecorder recorder(platform::soundServerCapture, codec);
    QCoro::waitFor(recorder.start(folder));
    std::vector<float> system;
    std::vector<float> microphone;
    double cpuShare = 0;
    std::map<std::string, double> threadShares;
    {
        test::Player speakers(dir.path(), "speakers", systemNoise, {}, 2000);
        test::Player micfeed(dir.path(), "micfeed", microphoneNoise, {}, 2000);
        spin(1.0); // the players and the clocks settle
        const auto threadsBefore = threadTimes();
        const double start = now();
        if (loadProcesses > 0) {
            spin((seconds - 10) / 2);
            {
                test::CpuLoad load(loadProcesses);
                spin(10);
            }
            spin((seconds - 10) / 2);
        } else {
            spin(seconds);
        }
        const double wall = now() - start;
        for (const auto& [name, time] : threadTimes()) {
            const double share =
                (time - (threadsBefore.count(name) ? threadsBefore.at(name) : 0.0)) / wall * 100;
            threadShares[name] = share;
            cpuShare += share;
        }
        // As they are before the stop mixes them and deletes them.
        system = test::readTrack(folder / "system.pcm");
        microphone = test::readTrack(folder / "microphone.pcm");
    }
    const CaptureResult result = QCoro::waitFor(recorder.stop());

    std::printf("recording %.0f s on the test sound server%s; mixed %.1f s\n", seconds,
                loadProcesses > 0 ? " with 10 s of busy loops in the middle" : "", result.duration);
    std::printf("  CPU while recording: %.2f %% of a core (", cpuShare);
    for (const auto& [name, share] : threadShares)
        if (share >= 0.01)
            std::printf(" %s %.2f %%", name.c_str(), share);
    std::printf(" )\n");
    const auto systemTimeline = test::locateTrack(system, asTrack(*codec, systemNoise), 3 * 16000);
    const auto microphoneTimeline =
        test::locateTrack(microphone, asTrack(*codec, microphoneNoise), 3 * 16000);
    report("system", systemTimeline);
    report("microphone", microphoneTimeline);
    std::int64_t lowest = INT64_MAX;
    std::int64_t highest = INT64_MIN;
    for (const auto& window : systemTimeline.windows) {
        if (const auto other = microphoneTimeline.lagAt(window.position)) {
            lowest = std::min(lowest, window.lag - *other);
            highest = std::max(highest, window.lag - *other);
        }
    }
    if (lowest <= highest)
        std::printf("  offset between the tracks wandered over %.2f ms\n",
                    static_cast<double>(highest - lowest) / 16);
    return 0;
}
