#include "platform/SoundServerProcesses.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <unordered_set>

namespace parlo::platform {

namespace {

// Everything the callbacks fill in. It outlives the context and the main loop (declared first in
// querySoundServer), so a late callback during the disconnect still finds it.
struct Query {
    SoundServerState state;
    std::unordered_set<std::uint32_t> monitorSources;
    std::vector<std::uint32_t> recordSources; // parallel to the Record entries, in order
    int pending = 0;
    bool started = false;
    bool failed = false;

    bool done() const { return failed || (started && pending == 0); }
};

std::string property(const pa_proplist* list, const char* key) {
    const char* value = list ? pa_proplist_gets(list, key) : nullptr;
    return value ? std::string(value) : std::string();
}

SoundServerIdentity identityOf(const pa_proplist* list) {
    SoundServerIdentity identity;
    identity.applicationId = property(list, PA_PROP_APPLICATION_ID);
    identity.processBinary = property(list, PA_PROP_APPLICATION_PROCESS_BINARY);
    identity.applicationName = property(list, PA_PROP_APPLICATION_NAME);
    // PipeWire's pulse layer adds the pid it took from the socket's credentials; it is the one to
    // trust, because a sandboxed client reports its pid inside its own pid namespace.
    for (const char* key : {"pipewire.sec.pid", PA_PROP_APPLICATION_PROCESS_ID}) {
        const std::string pid = property(list, key);
        std::int32_t value = 0;
        const auto [end, error] = std::from_chars(pid.data(), pid.data() + pid.size(), value);
        if (!pid.empty() && error == std::errc() && end == pid.data() + pid.size() && value > 0) {
            identity.pid = value;
            break;
        }
    }
    return identity;
}

// A list callback: eol < 0 is a refused query, eol > 0 the end of the list.
bool finishedList(Query& query, int eol) {
    if (eol < 0) {
        query.failed = true;
        return true;
    }
    if (eol > 0) {
        --query.pending;
        return true;
    }
    return false;
}

void onClient(pa_context*, const pa_client_info* info, int eol, void* data) {
    auto& query = *static_cast<Query*>(data);
    if (finishedList(query, eol) || !info)
        return;
    query.state.clients.push_back({info->index, identityOf(info->proplist)});
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto& query = *static_cast<Query*>(data);
    if (finishedList(query, eol) || !info)
        return;
    if (info->monitor_of_sink != PA_INVALID_INDEX)
        query.monitorSources.insert(info->index);
}

void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* data) {
    auto& query = *static_cast<Query*>(data);
    if (finishedList(query, eol) || !info)
        return;
    SoundServerStream stream;
    stream.direction = SoundServerStream::Direction::Playback;
    stream.client = info->client;
    stream.corked = info->corked != 0;
    stream.resampleMethod = info->resample_method ? info->resample_method : "";
    stream.mediaName = property(info->proplist, PA_PROP_MEDIA_NAME);
    stream.identity = identityOf(info->proplist);
    query.state.streams.push_back(std::move(stream));
}

void onSourceOutput(pa_context*, const pa_source_output_info* info, int eol, void* data) {
    auto& query = *static_cast<Query*>(data);
    if (finishedList(query, eol) || !info)
        return;
    SoundServerStream stream;
    stream.direction = SoundServerStream::Direction::Record;
    stream.client = info->client;
    stream.corked = info->corked != 0;
    stream.resampleMethod = info->resample_method ? info->resample_method : "";
    stream.mediaName = property(info->proplist, PA_PROP_MEDIA_NAME);
    stream.identity = identityOf(info->proplist);
    query.state.streams.push_back(std::move(stream));
    query.recordSources.push_back(info->source);
}

void issue(Query& query, pa_operation* operation) {
    if (!operation) {
        query.failed = true;
        return;
    }
    ++query.pending;
    // The operation runs on without our reference; its callback reports the result.
    pa_operation_unref(operation);
}

void onContextState(pa_context* context, void* data) {
    auto& query = *static_cast<Query*>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        if (query.started)
            return;
        query.started = true;
        // All four requests go out at once and are answered in order on one socket.
        issue(query, pa_context_get_source_info_list(context, onSource, &query));
        issue(query, pa_context_get_client_info_list(context, onClient, &query));
        issue(query, pa_context_get_sink_input_info_list(context, onSinkInput, &query));
        issue(query, pa_context_get_source_output_info_list(context, onSourceOutput, &query));
        return;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        query.failed = true;
        return;
    default:
        return;
    }
}

struct MainloopFree {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct ContextRelease {
    void operator()(pa_context* context) const {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
struct ProplistFree {
    void operator()(pa_proplist* list) const { pa_proplist_free(list); }
};

} // namespace

std::optional<SoundServerState> querySoundServer(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;

    Query query;
    std::unique_ptr<pa_mainloop, MainloopFree> loop(pa_mainloop_new());
    if (!loop)
        return std::nullopt;

    std::unique_ptr<pa_proplist, ProplistFree> properties(pa_proplist_new());
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_NAME, "Mello Parlo");
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_ID, ownBundleIdentifier.data());
    std::unique_ptr<pa_context, ContextRelease> context(
        pa_context_new_with_proplist(pa_mainloop_get_api(loop.get()), "Mello Parlo", properties.get()));
    if (!context)
        return std::nullopt;
    pa_context_set_state_callback(context.get(), onContextState, &query);
    // Never spawn a server: an absent one is an answer ("unavailable"), not something to fix.
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return std::nullopt;

    while (!query.done()) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        // One bounded iteration: poll waits at most until the deadline, so a server that accepts
        // the connection but never answers cannot hold the caller longer than `timeout`.
        if (pa_mainloop_prepare(loop.get(), static_cast<int>(left.count())) < 0 ||
            pa_mainloop_poll(loop.get()) < 0 || pa_mainloop_dispatch(loop.get()) < 0)
            return std::nullopt;
    }
    if (query.failed)
        return std::nullopt;

    std::size_t record = 0;
    for (SoundServerStream& stream : query.state.streams) {
        if (stream.direction == SoundServerStream::Direction::Record)
            stream.fromMonitor = query.monitorSources.contains(query.recordSources[record++]);
    }
    return std::move(query.state);
}

} // namespace parlo::platform
