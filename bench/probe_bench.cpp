// Cost of one call-detection snapshot with 50 client streams on the sound server (25 recording,
// 25 playing, each its own process), as the monitoring tick pays it every 0.8 s on the main thread
// (from the monitor's memory), and what a one-shot probe mode pays for the monitor's first complete
// picture. Run under scripts/test-sound-server: it needs PULSE_SERVER, parec and paplay.
#include "detection/CallActivityProbe.h"
#include "detection/ZoomProbe.h"
#include "platform/PlatformParts.h"
#include "platform/SoundServerMonitor.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr int recorders = 25;
constexpr int players = 25;

std::vector<pid_t> clients;

pid_t spawnClient(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stopClients() {
    for (pid_t pid : clients) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    clients.clear();
}

std::size_t clientStreams(const parlo::platform::SoundServerMonitor& monitor) {
    const auto state = monitor.state();
    if (!state)
        return 0;
    std::size_t count = 0;
    for (const auto& stream : state->streams)
        count += stream.client != parlo::SoundServerStream::noClient ? 1 : 0;
    return count;
}

bool startClients() {
    const auto monitor = parlo::platform::settledSoundServerMonitor();
    const std::size_t before = clientStreams(*monitor);
    // Spaced out: fifty connections at once overflow the server's listen queue and are refused.
    const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
    for (int i = 0; i < recorders; ++i, pause())
        clients.push_back(spawnClient({"parec", "--client-name=Caller " + std::to_string(i),
                                       "--property=application.id=org.example.Caller" + std::to_string(i)}));
    for (int i = 0; i < players; ++i, pause())
        clients.push_back(
            spawnClient({"paplay", "--raw", "--client-name=Player " + std::to_string(i),
                         "--property=application.id=org.example.Player" + std::to_string(i), "/dev/zero"}));
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (clientStreams(*monitor) >= before + recorders + players)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

void BM_CallActivitySnapshot(benchmark::State& state) {
    std::size_t applications = 0;
    parlo::CallActivityProbe probe(parlo::platform::soundServerAudioSystem());
    for (auto _ : state) {
        const parlo::CallActivitySnapshot snapshot = probe.snapshot();
        applications = snapshot.applications.size();
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["applications"] = static_cast<double>(applications);
    if (applications < recorders)
        state.SkipWithError("the probe did not see every recording client");
}
BENCHMARK(BM_CallActivitySnapshot)->Unit(benchmark::kMicrosecond);

void BM_ZoomSnapshot(benchmark::State& state) {
    parlo::ZoomProbe probe(parlo::platform::soundServerAudioSystem());
    for (auto _ : state)
        benchmark::DoNotOptimize(probe.snapshot());
}
BENCHMARK(BM_ZoomSnapshot)->Unit(benchmark::kMillisecond);

// A new connection until its first complete picture, /proc walk included: what a probe mode pays.
void BM_MonitorFirstPicture(benchmark::State& state) {
    for (auto _ : state) {
        parlo::platform::SoundServerMonitor monitor;
        if (!monitor.waitUntilSettled(std::chrono::seconds(2)) || !monitor.state())
            state.SkipWithError("the monitor saw no server");
    }
}
BENCHMARK(BM_MonitorFirstPicture)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("PULSE_SERVER")) {
        std::fputs("probe_bench: run it under scripts/test-sound-server\n", stderr);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (!startClients()) {
        stopClients();
        std::fputs("probe_bench: the 50 client streams did not appear\n", stderr);
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stopClients();
    return 0;
}
