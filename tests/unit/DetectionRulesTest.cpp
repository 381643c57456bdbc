#include "detection/DetectionRules.h"

#include <gtest/gtest.h>

using namespace parlo;

namespace {

constexpr std::int32_t ownPid = 4242;
const OwnIdentity own{ownPid, "com.fernwick.parlo"};

AudioProcess capturing(std::int32_t pid, std::string identifier) {
    return {pid, std::move(identifier), true, false};
}
AudioProcess playing(std::int32_t pid, std::string identifier) {
    return {pid, std::move(identifier), false, true};
}

CallActivitySnapshot evaluate(std::vector<AudioProcess> processes,
                              std::vector<RunningApplication> applications = {}) {
    return evaluateCallActivity(AudioProcessList{true, std::move(processes)}, applications, own);
}

std::vector<std::string> names(std::initializer_list<const char*> list) {
    return {list.begin(), list.end()};
}

} // namespace

TEST(CallActivityRules, EmptyListIsIdleAndUnreadableListIsUnavailable) {
    EXPECT_EQ(evaluate({}), CallActivitySnapshot::idle());
    EXPECT_TRUE(CallActivitySnapshot::idle().probeAvailable);

    // Running applications do not matter when the audio list cannot be read.
    const std::vector<RunningApplication> apps{
        {10, std::string("org.example.Caller"), std::string("Caller")}};
    const auto unavailable = evaluateCallActivity(AudioProcessList::unreadable(), apps, own);
    EXPECT_FALSE(unavailable.probeAvailable);
    EXPECT_FALSE(unavailable.active);
    EXPECT_TRUE(unavailable.applications.empty());
}

TEST(CallActivityRules, OwnProcessNeverCountsByPidOrIdentifier) {
    // By pid even under a foreign identifier, by identifier even from another pid.
    EXPECT_FALSE(evaluate({capturing(ownPid, "org.example.Other")}).active);
    EXPECT_FALSE(evaluate({capturing(7, "com.fernwick.parlo")}).active);
    EXPECT_FALSE(evaluate({capturing(7, "com.fernwick.parlo.capture")}).active);
    // Only a "." makes a sub-identifier: a look-alike is somebody else.
    EXPECT_EQ(evaluate({capturing(7, "com.fernwick.parlox")}).applications, names({"com.fernwick.parlox"}));
    // Our own pid is skipped also when its identifier comes from the application map.
    EXPECT_FALSE(
        evaluate({capturing(ownPid, "")}, {{ownPid, std::string("org.x"), std::string("X")}}).active);
}

TEST(CallActivityRules, SystemProcessesCountOnlyWhenAllowed) {
    EXPECT_FALSE(evaluate({capturing(1, "com.apple.coreaudiod")}).active);
    EXPECT_FALSE(evaluate({capturing(1, "com.apple.Siri")}).active);
    EXPECT_EQ(evaluate({capturing(1, "com.apple.FaceTime")}).applications, names({"com.apple.FaceTime"}));
    EXPECT_TRUE(evaluate({capturing(1, "com.apple.Safari")}).active);
    EXPECT_TRUE(evaluate({capturing(1, "com.apple.WebKit.WebContent")}).active);
    EXPECT_TRUE(evaluate({capturing(1, "com.apple.WebKit.WebContent.helper")}).active);
    // An allowed identifier continued without a dot is not allowed.
    EXPECT_FALSE(evaluate({capturing(1, "com.apple.FaceTimeHelper")}).active);
    EXPECT_FALSE(evaluate({capturing(1, "com.apple.Safari2")}).active);
    // The filter needs the trailing dot, and compares case-sensitively.
    EXPECT_TRUE(evaluate({capturing(1, "com.applesauce.Recorder")}).active);
    EXPECT_TRUE(evaluate({capturing(1, "com.Apple.Siri")}).active);
}

TEST(CallActivityRules, OutputAloneCountsOnlyForZoom) {
    EXPECT_FALSE(evaluate({playing(1, "org.videolan.vlc")}).active);
    EXPECT_EQ(evaluate({playing(1, "us.zoom.xos")}).applications, names({"us.zoom.xos"}));
    EXPECT_TRUE(evaluate({playing(1, "us.zoom.xos.ZoomAudioDevice")}).active);
    EXPECT_FALSE(evaluate({playing(1, "us.zoom.xosx")}).active);
    EXPECT_FALSE(evaluate({playing(1, "US.ZOOM.XOS")}).active);
    // Zoom neither capturing nor playing is no call.
    EXPECT_FALSE(evaluate({AudioProcess{1, "us.zoom.xos", false, false}}).active);
    // Zoom's identifier from the application map counts too.
    EXPECT_TRUE(evaluate({playing(9, "")}, {{9, std::string("us.zoom.xos"), std::string("Zoom")}}).active);
}

TEST(CallActivityRules, NamesComeFromTheApplicationMap) {
    const std::vector<RunningApplication> apps{
        {100, std::string("org.chromium.Chromium"), std::string("Chromium")},
        {100, std::string("org.other"), std::string("Shadowed")}, // the first entry of a pid wins
        {200, std::string("org.nameless"), std::nullopt},
        {300, std::nullopt, std::string("Identifier From Nowhere")},
    };
    // Two processes of the browser and a third with the same name are listed once.
    EXPECT_EQ(evaluate({capturing(100, "org.chromium.Chromium"), capturing(100, "org.chromium.Helper")}, apps)
                  .applications,
              names({"Chromium"}));
    // No name in the map, or no mapped application: the identifier is the name.
    EXPECT_EQ(
        evaluate({capturing(200, "org.nameless.audio"), capturing(555, "org.unmapped")}, apps).applications,
        names({"org.nameless.audio", "org.unmapped"}));
    // An audio process without identifier borrows the application's; without either it is skipped.
    EXPECT_FALSE(evaluate({capturing(300, "")}, apps).active);
    EXPECT_EQ(evaluate({capturing(200, "")}, apps).applications, names({"org.nameless"}));
    EXPECT_FALSE(evaluate({capturing(777, "")}, apps).active);
}

TEST(CallActivityRules, NamesAreSortedByCodePoint) {
    const std::vector<RunningApplication> apps{
        {1, std::string("a"), std::string("alpha")}, {2, std::string("b"), std::string("Zoom")},
        {3, std::string("c"), std::string("Élan")},  {4, std::string("d"), std::string("Телемост")},
        {5, std::string("e"), std::string("Zed")},
    };
    std::vector<AudioProcess> processes;
    for (std::int32_t pid = 1; pid <= 5; ++pid)
        processes.push_back(capturing(pid, ""));
    // Upper case before lower case, Latin before accented Latin before Cyrillic: no locale.
    EXPECT_EQ(evaluate(processes, apps).applications, names({"Zed", "Zoom", "alpha", "Élan", "Телемост"}));
}

TEST(ZoomRules, NothingRunning) {
    const ZoomSnapshot snapshot = evaluateZoom(AudioProcessList{true, {capturing(1, "org.example")}}, {});
    EXPECT_EQ(snapshot, (ZoomSnapshot{false, false, false, 0, true}));
}

TEST(ZoomRules, RunningButIdle) {
    const std::vector<RunningApplication> apps{{50, std::string("us.zoom.xos"), std::string("Zoom")}};
    EXPECT_EQ(evaluateZoom(AudioProcessList{true, {}}, apps), (ZoomSnapshot{true, false, false, 0, true}));
    // An application without identifier or a look-alike is not Zoom.
    const std::vector<RunningApplication> others{{51, std::nullopt, std::string("Zoom")},
                                                 {52, std::string("us.zoom.xosx"), std::string("Zoom?")}};
    EXPECT_FALSE(evaluateZoom(AudioProcessList{true, {}}, others).running);
}

TEST(ZoomRules, CountsProcessesByPidOrIdentifier) {
    const std::vector<RunningApplication> apps{{50, std::string("us.zoom.xos"), std::string("Zoom")}};
    const AudioProcessList audio{true,
                                 {
                                     capturing(50, ""),                       // by the application's pid
                                     playing(999, "us.zoom.xos.AudioDevice"), // by identifier, unmapped pid
                                     capturing(60, "org.other"),
                                     playing(61, "us.zoom.xosfake"),
                                 }};
    EXPECT_EQ(evaluateZoom(audio, apps), (ZoomSnapshot{true, true, true, 2, true}));
    // A sub-identifier alone makes Zoom "running".
    EXPECT_EQ(evaluateZoom(AudioProcessList{true, {playing(999, "us.zoom.xos.AudioDevice")}}, {}),
              (ZoomSnapshot{true, false, true, 1, true}));
}

TEST(ZoomRules, UnreadableListStillReportsTheApplication) {
    const std::vector<RunningApplication> apps{{50, std::string("us.zoom.xos"), std::string("Zoom")}};
    EXPECT_EQ(evaluateZoom(AudioProcessList::unreadable(), apps),
              (ZoomSnapshot{true, false, false, 0, false}));
    EXPECT_EQ(evaluateZoom(AudioProcessList::unreadable(), {}),
              (ZoomSnapshot{false, false, false, 0, false}));
}
