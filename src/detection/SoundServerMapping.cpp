#include "detection/SoundServerState.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace parlo {

namespace {

// The Linux client of Zoom: its binary (the launcher script execs "zoom", older builds run
// "zoom.real") and the Flatpak's application id.
constexpr std::array<std::string_view, 2> zoomBinaries = {"zoom", "zoom.real"};
constexpr std::array<std::string_view, 1> zoomApplicationIds = {"us.zoom.Zoom"};
constexpr std::string_view ownBinary = "mello-parlo";

// Volume controls open one peak-detecting recording per device to draw their meters.
constexpr std::array<std::string_view, 2> volumeControlIds = {"org.PulseAudio.pavucontrol",
                                                              "org.gnome.VolumeControl"};
constexpr std::array<std::string_view, 3> volumeControlBinaries = {"pavucontrol", "pavucontrol-qt", "kmix"};

template <std::size_t N> bool oneOf(const std::array<std::string_view, N>& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

SoundServerIdentity merged(const SoundServerIdentity& stream, const SoundServerIdentity* client) {
    if (!client)
        return stream;
    SoundServerIdentity identity = stream;
    if (identity.applicationId.empty())
        identity.applicationId = client->applicationId;
    if (identity.processBinary.empty())
        identity.processBinary = client->processBinary;
    if (identity.applicationName.empty())
        identity.applicationName = client->applicationName;
    if (identity.processId == 0)
        identity.processId = client->processId;
    if (identity.securityPid == 0)
        identity.securityPid = client->securityPid;
    if (identity.clientApi.empty())
        identity.clientApi = client->clientApi;
    return identity;
}

} // namespace

std::int32_t processIdOf(const SoundServerIdentity& identity, const SoundServerState& state) {
    const bool ownSecurityPid = state.pipeWire && identity.securityPid > 0 &&
                                identity.clientApi != "pipewire-pulse" &&
                                identity.securityPid != state.serverPid;
    if (ownSecurityPid)
        return identity.securityPid;
    return identity.processId > 0 ? identity.processId : 0;
}

std::string bundleIdentifierOf(const SoundServerIdentity& identity) {
    if (!identity.applicationId.empty()) {
        if (oneOf(zoomApplicationIds, identity.applicationId))
            return std::string(zoomBundleIdentifier);
        return identity.applicationId;
    }
    if (oneOf(zoomBinaries, identity.processBinary))
        return std::string(zoomBundleIdentifier);
    if (identity.processBinary == ownBinary)
        return std::string(ownBundleIdentifier);
    return identity.processBinary;
}

bool isLevelMeter(const SoundServerStream& stream, const SoundServerIdentity& identity) {
    return stream.resampleMethod == "peaks" || stream.peakDetect || stream.mediaName == "Peak detect" ||
           oneOf(volumeControlIds, identity.applicationId) ||
           oneOf(volumeControlBinaries, identity.processBinary);
}

AudioProcessList audioProcessesOf(const SoundServerState& state, const ApplicationOf& applicationOf) {
    std::unordered_map<std::uint32_t, const SoundServerIdentity*> clients;
    for (const SoundServerClient& client : state.clients)
        clients.emplace(client.index, &client.identity);

    AudioProcessList list;
    // Keyed by (application pid, identifier); the value is the index into the list, so processes
    // keep the order in which their first stream appeared.
    std::map<std::tuple<std::int32_t, std::string>, std::size_t> seen;
    for (const SoundServerStream& stream : state.streams) {
        if (stream.client == SoundServerStream::noClient)
            continue;
        const auto client = clients.find(stream.client);
        const SoundServerIdentity identity =
            merged(stream.identity, client == clients.end() ? nullptr : client->second);
        if (isLevelMeter(stream, identity))
            continue;

        const std::int32_t ownPid = processIdOf(identity, state);
        const std::int32_t pid = ownPid > 0 ? applicationOf(ownPid) : 0;
        std::string identifier = bundleIdentifierOf(identity);
        auto [slot, inserted] = seen.try_emplace({pid, identifier}, list.processes.size());
        if (inserted)
            list.processes.push_back(AudioProcess{pid, std::move(identifier), false, false});
        AudioProcess& process = list.processes[slot->second];
        if (stream.direction == SoundServerStream::Direction::Record)
            process.runningInput = process.runningInput || (!stream.corked && !stream.fromMonitor);
        else
            process.runningOutput = process.runningOutput || !stream.corked;
    }
    return list;
}

std::vector<RunningApplication> runningApplicationsOf(const SoundServerState& state,
                                                      const ApplicationOf& applicationOf) {
    struct Candidate {
        RunningApplication application;
        bool isApplicationProcess;
        std::size_t nameLength;
        std::uint32_t index;
    };
    std::vector<Candidate> candidates;
    candidates.reserve(state.clients.size());
    for (const SoundServerClient& client : state.clients) {
        const SoundServerIdentity& identity = client.identity;
        const std::int32_t ownPid = processIdOf(identity, state);
        if (ownPid <= 0)
            continue;
        const std::int32_t pid = applicationOf(ownPid);
        RunningApplication application{pid, {}, {}};
        if (std::string identifier = bundleIdentifierOf(identity); !identifier.empty())
            application.bundleIdentifier = std::move(identifier);
        if (!identity.applicationName.empty())
            application.localizedName = identity.applicationName;
        else if (!identity.processBinary.empty())
            application.localizedName = identity.processBinary;
        const std::size_t length = application.localizedName ? application.localizedName->size() : SIZE_MAX;
        candidates.push_back({std::move(application), pid == ownPid, length, client.index});
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return std::tuple(a.application.pid, !a.isApplicationProcess, a.nameLength, a.index) <
               std::tuple(b.application.pid, !b.isApplicationProcess, b.nameLength, b.index);
    });
    std::vector<RunningApplication> applications;
    applications.reserve(candidates.size());
    for (Candidate& candidate : candidates)
        applications.push_back(std::move(candidate.application));
    return applications;
}

} // namespace parlo
