#include "shell/RunMode.h"

#include <gtest/gtest.h>

using parlo::RunMode;
using parlo::selectRunMode;

namespace {

QStringList args(std::initializer_list<const char*> list) {
    QStringList result{QStringLiteral("mello-parlo")};
    for (const char* item : list)
        result.append(QString::fromUtf8(item));
    return result;
}

} // namespace

TEST(RunMode, PlainStartIsTheApplication) {
    auto selection = selectRunMode(args({}));
    EXPECT_EQ(selection.mode, RunMode::Application);
    EXPECT_FALSE(selection.preview);
    EXPECT_TRUE(selectRunMode(args({"--preview"})).preview);
}

TEST(RunMode, RenderPreviewNeedsAValueAndWinsOverEverything) {
    auto selection = selectRunMode(args({"--probe-calls", "--render-preview", "/tmp/a.png"}));
    EXPECT_EQ(selection.mode, RunMode::RenderPreview);
    EXPECT_EQ(selection.previewPath, QStringLiteral("/tmp/a.png"));
    // Standing last it has no value: selection goes on to the probe.
    EXPECT_EQ(selectRunMode(args({"--probe-calls", "--render-preview"})).mode, RunMode::ProbeCalls);
}

TEST(RunMode, FirstOccurrenceGivesTheValue) {
    auto selection = selectRunMode(args({"--render-preview", "first.png", "--render-preview", "second.png"}));
    EXPECT_EQ(selection.previewPath, QStringLiteral("first.png"));
    // The option's value may itself look like an option.
    EXPECT_EQ(selectRunMode(args({"--render-preview", "--probe-zoom"})).previewPath,
              QStringLiteral("--probe-zoom"));
}

TEST(RunMode, ZoomProbeWinsOverCallProbe) {
    EXPECT_EQ(selectRunMode(args({"--probe-calls", "--probe-zoom"})).mode, RunMode::ProbeZoom);
    EXPECT_EQ(selectRunMode(args({"--probe-calls"})).mode, RunMode::ProbeCalls);
}

TEST(RunMode, SelfTestNeedsAllThreeOptionsWithValues) {
    auto full =
        selectRunMode(args({"--smoke-upload", "a.m4a", "--access-file", "key.txt", "--test-root", "/tmp/r"}));
    EXPECT_EQ(full.mode, RunMode::SmokeUpload);
    EXPECT_EQ(full.smokeFile, QStringLiteral("a.m4a"));
    EXPECT_EQ(full.accessFile, QStringLiteral("key.txt"));
    EXPECT_EQ(full.testRoot, QStringLiteral("/tmp/r"));

    EXPECT_EQ(selectRunMode(args({"--smoke-upload", "a.m4a", "--access-file", "key.txt"})).mode,
              RunMode::Application);
    EXPECT_EQ(
        selectRunMode(args({"--smoke-upload", "a.m4a", "--access-file", "key.txt", "--test-root"})).mode,
        RunMode::Application);
}

TEST(RunMode, ProgramPathTakesPartInTheSearch) {
    // Index 0 is searched too: a program path equal to an option counts like any argument.
    QStringList list{QStringLiteral("--probe-calls")};
    EXPECT_EQ(selectRunMode(list).mode, RunMode::ProbeCalls);
    EXPECT_EQ(selectRunMode(QStringList{}).mode, RunMode::Application);
}
