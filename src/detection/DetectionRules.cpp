#include "detection/DetectionRules.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace parlo {

namespace {

constexpr std::string_view systemPrefix = "com.apple.";

// System processes that may still be a call: the browser, its content processes and the video
// calling application.
constexpr std::array<std::string_view, 3> allowedSystemIdentifiers = {
    "com.apple.Safari", "com.apple.WebKit.WebContent", "com.apple.FaceTime"};

bool isExcludedSystemProcess(std::string_view identifier) {
    if (!identifier.starts_with(systemPrefix))
        return false;
    return std::none_of(
        allowedSystemIdentifiers.begin(), allowedSystemIdentifiers.end(),
        [&](std::string_view allowed) { return isIdentifierOrSubIdentifier(identifier, allowed); });
}

std::unordered_map<std::int32_t, const RunningApplication*>
applicationsByPid(const std::vector<RunningApplication>& applications) {
    std::unordered_map<std::int32_t, const RunningApplication*> map;
    map.reserve(applications.size());
    for (const RunningApplication& application : applications)
        map.try_emplace(application.pid, &application); // the first entry of a pid wins
    return map;
}

} // namespace

bool isIdentifierOrSubIdentifier(std::string_view identifier, std::string_view base) {
    if (!identifier.starts_with(base))
        return false;
    return identifier.size() == base.size() || identifier[base.size()] == '.';
}

CallActivitySnapshot evaluateCallActivity(const AudioProcessList& audio,
                                          const std::vector<RunningApplication>& applications,
                                          const OwnIdentity& own) {
    if (!audio.readable)
        return CallActivitySnapshot{false, {}, false};
    if (audio.processes.empty())
        return CallActivitySnapshot::idle();

    const auto byPid = applicationsByPid(applications);
    // std::string's ordering compares char_traits<char>, i.e. unsigned bytes: for UTF-8 that is
    // code-point order, case-sensitive and independent of the locale.
    std::set<std::string> names;
    for (const AudioProcess& process : audio.processes) {
        const auto found = byPid.find(process.pid);
        const RunningApplication* application = found == byPid.end() ? nullptr : found->second;

        std::string identifier = process.bundleIdentifier;
        if (identifier.empty() && application && application->bundleIdentifier)
            identifier = *application->bundleIdentifier;

        if (process.pid == own.pid || identifier.empty())
            continue;
        if (isIdentifierOrSubIdentifier(identifier, own.bundleIdentifier))
            continue;
        if (isExcludedSystemProcess(identifier))
            continue;
        const bool qualifies =
            process.runningInput || (process.runningOutput && isZoomIdentifier(identifier));
        if (!qualifies)
            continue;

        if (application && application->localizedName)
            names.insert(*application->localizedName);
        else
            names.insert(identifier);
    }

    CallActivitySnapshot result;
    result.applications.assign(names.begin(), names.end());
    result.active = !result.applications.empty();
    result.probeAvailable = true;
    return result;
}

ZoomSnapshot evaluateZoom(const AudioProcessList& audio,
                          const std::vector<RunningApplication>& applications) {
    std::int64_t zoomApplications = 0;
    std::unordered_set<std::int32_t> zoomPids;
    for (const RunningApplication& application : applications) {
        if (application.bundleIdentifier && isZoomIdentifier(*application.bundleIdentifier)) {
            ++zoomApplications;
            zoomPids.insert(application.pid);
        }
    }

    ZoomSnapshot result;
    result.probeAvailable = audio.readable;
    if (audio.readable) {
        for (const AudioProcess& process : audio.processes) {
            // The pid comes first, so a Zoom process whose own identifier is unknown still counts
            // while its application runs.
            if (!zoomPids.contains(process.pid) && !isZoomIdentifier(process.bundleIdentifier))
                continue;
            ++result.processCount;
            result.inputActive = result.inputActive || process.runningInput;
            result.outputActive = result.outputActive || process.runningOutput;
        }
    }
    result.running = zoomApplications > 0 || result.processCount > 0;
    return result;
}

} // namespace parlo
