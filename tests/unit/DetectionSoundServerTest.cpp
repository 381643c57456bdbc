#include "detection/DetectionRules.h"
#include "detection/SoundServerState.h"

#include <gtest/gtest.h>

#include <map>

using namespace parlo;
using Direction = SoundServerStream::Direction;

namespace {

SoundServerIdentity who(std::string id, std::string binary, std::string name, std::int32_t pid) {
    SoundServerIdentity identity;
    identity.applicationId = std::move(id);
    identity.processBinary = std::move(binary);
    identity.applicationName = std::move(name);
    identity.processId = pid;
    return identity;
}

SoundServerStream stream(Direction direction, std::uint32_t client) {
    SoundServerStream s;
    s.direction = direction;
    s.client = client;
    s.resampleMethod = "speex-float-1";
    s.mediaName = "Stream";
    return s;
}

// Helpers 11 and 12 belong to the browser 10; everything else is its own application.
std::int32_t applicationOf(std::int32_t pid) {
    static const std::map<std::int32_t, std::int32_t> tree{{11, 10}, {12, 10}};
    const auto found = tree.find(pid);
    return found == tree.end() ? pid : found->second;
}

} // namespace

TEST(SoundServerIdentity, ApplicationIdBeforeBinaryWithZoomAndOwnIdentities) {
    EXPECT_EQ(bundleIdentifierOf(who("org.example.Caller", "pacat", "", 1)), "org.example.Caller");
    EXPECT_EQ(bundleIdentifierOf(who("", "firefox-esr", "", 1)), "firefox-esr");
    EXPECT_EQ(bundleIdentifierOf(who("", "", "Named Only", 1)), "");
    // Zoom's Linux binaries and its Flatpak id become Zoom's identifier; look-alikes do not.
    EXPECT_EQ(bundleIdentifierOf(who("", "zoom", "", 1)), "us.zoom.xos");
    EXPECT_EQ(bundleIdentifierOf(who("", "zoom.real", "", 1)), "us.zoom.xos");
    EXPECT_EQ(bundleIdentifierOf(who("us.zoom.Zoom", "bwrap", "", 1)), "us.zoom.xos");
    EXPECT_EQ(bundleIdentifierOf(who("", "zoomer", "", 1)), "zoomer");
    EXPECT_EQ(bundleIdentifierOf(who("us.zoom.Zoom.Locale", "", "", 1)), "us.zoom.Zoom.Locale");
    // Our binary is ourselves even when a stream forgot to say so (the player's output).
    EXPECT_EQ(bundleIdentifierOf(who("", "mello-parlo", "", 1)), "com.fernwick.parlo");
}

TEST(SoundServerProcesses, RunningInputIsAnUnpausedRecordingFromARealSource) {
    SoundServerState state;
    state.clients = {{1, who("org.mic", "pacat", "Mic", 101)},
                     {2, who("org.monitor", "pacat", "Screen Recorder", 102)},
                     {3, who("org.paused", "pacat", "Paused", 103)}};
    state.streams = {stream(Direction::Record, 1), stream(Direction::Record, 2),
                     stream(Direction::Record, 3)};
    state.streams[1].fromMonitor = true;
    state.streams[2].corked = true;

    const AudioProcessList list = audioProcessesOf(state, applicationOf);
    ASSERT_TRUE(list.readable);
    ASSERT_EQ(list.processes.size(), 3U); // they still use audio, and the Zoom probe counts such processes
    EXPECT_TRUE(list.processes[0].runningInput);
    EXPECT_FALSE(list.processes[1].runningInput);
    EXPECT_FALSE(list.processes[2].runningInput);
    for (const AudioProcess& process : list.processes)
        EXPECT_FALSE(process.runningOutput);
}

TEST(SoundServerProcesses, ModuleStreamsAndLevelMetersAreLeftOut) {
    SoundServerState state;
    state.clients = {{1, who("org.example.Meter", "meter", "Meter", 101)},
                     {2, who("org.PulseAudio.pavucontrol", "pavucontrol", "Volume Control", 102)},
                     {3, who("", "pavucontrol-qt", "Volume", 103)},
                     {4, who("org.example.Named", "x", "X", 104)}};
    SoundServerStream loopback = stream(Direction::Record, SoundServerStream::noClient);
    SoundServerStream peaks = stream(Direction::Record, 1);
    peaks.resampleMethod = "peaks";
    SoundServerStream byName = stream(Direction::Record, 4);
    byName.mediaName = "Peak detect";
    SoundServerStream onPipeWire = stream(Direction::Record, 1);
    onPipeWire.resampleMethod = "PipeWire";
    onPipeWire.peakDetect = true;
    state.streams = {loopback, peaks,     stream(Direction::Record, 2), stream(Direction::Record, 3),
                     byName,   onPipeWire};

    EXPECT_TRUE(audioProcessesOf(state, applicationOf).processes.empty());
    // Not even a call by the rules' measure.
    EXPECT_FALSE(evaluateCallActivity(audioProcessesOf(state, applicationOf),
                                      runningApplicationsOf(state, applicationOf), {1, "com.fernwick.parlo"})
                     .active);
}

TEST(SoundServerProcesses, StreamPropertiesOverrideTheClientsAndHelpersJoinTheirApplication) {
    SoundServerState state;
    state.clients = {{1, who("", "chromium", "Chromium input", 11)},
                     {2, who("", "chromium", "Chromium", 12)},
                     {3, who("org.host", "host", "Host", 300)}};
    SoundServerStream guest = stream(Direction::Playback, 3);
    guest.identity = who("org.guest", "", "", 301);
    state.streams = {stream(Direction::Record, 1), stream(Direction::Playback, 2), guest};

    const AudioProcessList list = audioProcessesOf(state, applicationOf);
    ASSERT_EQ(list.processes.size(), 2U);
    // Both helpers of the browser make one process with input and output.
    EXPECT_EQ(list.processes[0].pid, 10);
    EXPECT_EQ(list.processes[0].bundleIdentifier, "chromium");
    EXPECT_TRUE(list.processes[0].runningInput);
    EXPECT_TRUE(list.processes[0].runningOutput);
    // The stream's own identity wins over its client's.
    EXPECT_EQ(list.processes[1].pid, 301);
    EXPECT_EQ(list.processes[1].bundleIdentifier, "org.guest");
    EXPECT_FALSE(list.processes[1].runningInput);
    EXPECT_TRUE(list.processes[1].runningOutput);
}

TEST(SoundServerProcesses, ABrowserInAMeetingIsListedOnceUnderItsName) {
    SoundServerState state;
    // Record helper first: the shorter name of the playback helper still names the browser.
    state.clients = {{5, who("", "chromium", "Chromium input", 11)},
                     {6, who("", "chromium", "Chromium", 12)},
                     {7, who("", "chromium", "Chromium input", 11)},
                     {8, who("org.example.NoPid", "x", "No Pid", 0)}};
    state.streams = {stream(Direction::Record, 5), stream(Direction::Playback, 6),
                     stream(Direction::Record, 7)};

    const auto applications = runningApplicationsOf(state, applicationOf);
    ASSERT_EQ(applications.size(), 3U); // the client without a pid is no application
    EXPECT_EQ(applications.front().pid, 10);
    EXPECT_EQ(applications.front().localizedName, std::optional<std::string>("Chromium"));

    const auto snapshot =
        evaluateCallActivity(audioProcessesOf(state, applicationOf), applications, {1, "com.fernwick.parlo"});
    EXPECT_EQ(snapshot.applications, std::vector<std::string>{"Chromium"});
}

TEST(SoundServerProcesses, TheApplicationsOwnClientNamesItFirst) {
    SoundServerState state;
    state.clients = {{1, who("", "chromium", "Web", 11)},
                     {2, who("", "chromium", "Chromium Browser", 10)},
                     {3, who("", "tool", "", 20)}};
    const auto applications = runningApplicationsOf(state, applicationOf);
    ASSERT_EQ(applications.size(), 3U);
    EXPECT_EQ(applications[0].localizedName, std::optional<std::string>("Chromium Browser"));
    // Without application.name the binary names it.
    EXPECT_EQ(applications[2].pid, 20);
    EXPECT_EQ(applications[2].localizedName, std::optional<std::string>("tool"));
}

TEST(SoundServerProcesses, ZoomPlayingAloneIsACallAndCountedByTheZoomProbe) {
    SoundServerState state;
    state.clients = {{1, who("", "zoom", "ZOOM VoiceEngine", 500)}, {2, who("", "vlc", "VLC", 600)}};
    SoundServerStream paused = stream(Direction::Record, 1);
    paused.corked = true;
    state.streams = {stream(Direction::Playback, 1), paused, stream(Direction::Playback, 2)};

    const auto audio = audioProcessesOf(state, applicationOf);
    const auto applications = runningApplicationsOf(state, applicationOf);
    EXPECT_EQ(evaluateCallActivity(audio, applications, {1, "com.fernwick.parlo"}).applications,
              std::vector<std::string>{"ZOOM VoiceEngine"});
    EXPECT_EQ(evaluateZoom(audio, applications), (ZoomSnapshot{true, false, true, 1, true}));
}

TEST(SoundServerProcesses, OnPipeWireTheRelayedClientsAreNamedByTheirOwnPids) {
    // As pipewire-pulse presents clients: every relayed one carries the pulse layer's own pid (900)
    // as pipewire.sec.pid; native PipeWire clients carry their own.
    SoundServerState state;
    state.pipeWire = true;
    state.serverPid = 900;
    auto relayed = [](std::string name, std::int32_t pid) {
        SoundServerIdentity identity = who("", "chromium", std::move(name), pid);
        identity.securityPid = 900;
        identity.clientApi = "pipewire-pulse";
        return identity;
    };
    SoundServerIdentity native = who("", "caller", "Native Caller", 2); // its pid inside a sandbox
    native.securityPid = 700;
    SoundServerIdentity server = who("", "pipewire", "pipewire", 900);
    server.securityPid = 900;
    state.clients = {
        {1, relayed("Chromium input", 11)}, {2, relayed("Chromium", 12)}, {3, native}, {4, server}};
    state.streams = {stream(Direction::Record, 1), stream(Direction::Playback, 2),
                     stream(Direction::Record, 3)};

    EXPECT_EQ(processIdOf(state.clients[0].identity, state), 11);
    EXPECT_EQ(processIdOf(state.clients[2].identity, state), 700);
    EXPECT_EQ(processIdOf(state.clients[3].identity, state), 900);
    const auto snapshot =
        evaluateCallActivity(audioProcessesOf(state, applicationOf),
                             runningApplicationsOf(state, applicationOf), {1, "com.fernwick.parlo"});
    EXPECT_EQ(snapshot.applications, (std::vector<std::string>{"Chromium", "Native Caller"}));

    // On PulseAudio pipewire.sec.pid is only a claim any client can make.
    state.pipeWire = false;
    EXPECT_EQ(processIdOf(state.clients[2].identity, state), 2);
}
