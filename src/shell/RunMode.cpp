#include "shell/RunMode.h"

namespace parlo {

namespace {

// The value following the first occurrence of `option`, if there is one.
std::optional<QString> optionValue(const QStringList& arguments, const QString& option) {
    const qsizetype index = arguments.indexOf(option);
    if (index < 0 || index + 1 >= arguments.size())
        return std::nullopt;
    return arguments.at(index + 1);
}

} // namespace

RunSelection selectRunMode(const QStringList& arguments) {
    RunSelection selection;
    if (auto path = optionValue(arguments, QStringLiteral("--render-preview"))) {
        selection.mode = RunMode::RenderPreview;
        selection.previewPath = *path;
        return selection;
    }
    if (arguments.contains(QStringLiteral("--probe-zoom"))) {
        selection.mode = RunMode::ProbeZoom;
        return selection;
    }
    if (arguments.contains(QStringLiteral("--probe-calls"))) {
        selection.mode = RunMode::ProbeCalls;
        return selection;
    }
    auto smokeFile = optionValue(arguments, QStringLiteral("--smoke-upload"));
    auto accessFile = optionValue(arguments, QStringLiteral("--access-file"));
    auto testRoot = optionValue(arguments, QStringLiteral("--test-root"));
    if (smokeFile && accessFile && testRoot) {
        selection.mode = RunMode::SmokeUpload;
        selection.smokeFile = *smokeFile;
        selection.accessFile = *accessFile;
        selection.testRoot = *testRoot;
        return selection;
    }
    selection.preview = arguments.contains(QStringLiteral("--preview"));
    selection.background = arguments.contains(QStringLiteral("--background"));
    return selection;
}

} // namespace parlo
