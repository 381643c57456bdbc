#include "platform/SoundServerMonitor.h"

#include "platform/ProcessAncestry.h"
#include "platform/PulseSupport.h"

#include <pulse/timeval.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <map>
#include <mutex>
#include <unistd.h>
#include <unordered_map>

namespace parlo::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds firstRetry{100};
constexpr std::chrono::milliseconds longestRetry{2000};

// What readers see: one complete picture, never changed after it is published.
struct Picture {
    SoundServerState state;
    std::unordered_map<std::int32_t, std::int32_t> applications;
    SoundServerDevices devices;
};

std::string property(const pa_proplist* list, const char* key) {
    const char* value = list ? pa_proplist_gets(list, key) : nullptr;
    return value ? std::string(value) : std::string();
}

std::int32_t pidProperty(const pa_proplist* list, const char* key) {
    const std::string text = property(list, key);
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size() && value > 0 ? value : 0;
}

SoundServerIdentity identityOf(const pa_proplist* list) {
    SoundServerIdentity identity;
    identity.applicationId = property(list, PA_PROP_APPLICATION_ID);
    identity.processBinary = property(list, PA_PROP_APPLICATION_PROCESS_BINARY);
    identity.applicationName = property(list, PA_PROP_APPLICATION_NAME);
    identity.processId = pidProperty(list, PA_PROP_APPLICATION_PROCESS_ID);
    identity.securityPid = pidProperty(list, "pipewire.sec.pid");
    identity.clientApi = property(list, "client.api");
    return identity;
}

template <typename Info>
SoundServerStream streamOf(const Info& info, SoundServerStream::Direction direction) {
    SoundServerStream stream;
    stream.direction = direction;
    stream.client = info.client;
    stream.corked = info.corked != 0;
    stream.resampleMethod = info.resample_method ? info.resample_method : "";
    stream.peakDetect = property(info.proplist, "resample.peaks") == "true";
    stream.mediaName = property(info.proplist, PA_PROP_MEDIA_NAME);
    stream.identity = identityOf(info.proplist);
    return stream;
}

timeval inFuture(std::chrono::milliseconds delay) {
    timeval when{};
    pa_gettimeofday(&when);
    // The main loop turns a wall-clock time into its monotonic clock when the event is armed.
    pa_timeval_add(&when, static_cast<pa_usec_t>(delay.count()) * PA_USEC_PER_MSEC);
    return when;
}

} // namespace

// The fields under "loop thread" belong to libpulse's thread, or to the constructor and destructor
// while they hold the main loop's lock. Readers touch only what `mutex` guards and `answering`.
struct SoundServerMonitor::Impl {
    struct Source {
        std::string name;
        bool monitor = false;
    };
    struct Sink {
        std::string name;
        std::string monitorSource;
    };
    struct Recording {
        SoundServerStream stream;
        std::uint32_t source = PA_INVALID_INDEX;
    };

    // --- loop thread ---------------------------------------------------------------------------
    pa_threaded_mainloop* loop = nullptr;
    pa_mainloop_api* api = nullptr;
    pa_context* context = nullptr;
    pa_context* retired = nullptr; // a lost connection, released by the retry timer
    pa_time_event* pingTimer = nullptr;
    pa_time_event* retryTimer = nullptr;
    std::chrono::milliseconds retryPause = firstRetry;

    std::map<std::uint32_t, SoundServerClient> clients;
    std::map<std::uint32_t, SoundServerStream> playbacks;
    std::map<std::uint32_t, Recording> recordings;
    std::map<std::uint32_t, Source> sources;
    std::map<std::uint32_t, Sink> sinks;
    std::string serverName;
    std::string defaultSink;
    std::string defaultSource;
    std::unordered_map<std::int32_t, std::int32_t> ancestry; // pid → application pid, for named pids
    int pending = 0;                                         // questions the server still owes an answer to
    Clock::time_point heardAt; // the server's last word, or the first question after its silence
    bool changed = false;      // the maps differ from the published picture
    bool published = false;    // a picture of this connection has been published

    // --- readers -------------------------------------------------------------------------------
    mutable std::mutex mutex;
    mutable std::condition_variable settledChanged;
    std::shared_ptr<const Picture> picture; // guarded by mutex; null: no server
    bool settled = false;                   // guarded by mutex
    std::atomic<bool> answering{false};

    void start() {
        loop = pa_threaded_mainloop_new();
        if (!loop)
            return; // no memory: the monitor reports no server
        pa_threaded_mainloop_set_name(loop, "parlo-monitor");
        api = pa_threaded_mainloop_get_api(loop);
        pa_threaded_mainloop_lock(loop);
        if (pa_threaded_mainloop_start(loop) < 0) {
            pa_threaded_mainloop_unlock(loop);
            pa_threaded_mainloop_free(loop);
            loop = nullptr;
            return;
        }
        const timeval soon = inFuture(monitorPingInterval);
        pingTimer = api->time_new(api, &soon, onPingTimer, this);
        connect();
        pa_threaded_mainloop_unlock(loop);
    }

    void stop() {
        if (!loop)
            return;
        pa_threaded_mainloop_lock(loop);
        if (pingTimer)
            api->time_free(pingTimer);
        if (retryTimer)
            api->time_free(retryTimer);
        release(context);
        release(retired);
        context = retired = nullptr;
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }

    static void release(pa_context* c) {
        if (!c)
            return;
        pa_context_set_state_callback(c, nullptr, nullptr);
        pa_context_set_subscribe_callback(c, nullptr, nullptr);
        // Disconnecting cancels every operation still running: none of their callbacks follows.
        pa_context_disconnect(c);
        pa_context_unref(c);
    }

    // --- connection ----------------------------------------------------------------------------

    void connect() {
        auto props = pulse::ownProplist();
        context = pa_context_new_with_proplist(api, ownApplicationName, props.get());
        if (!context) {
            lost();
            return;
        }
        pa_context_set_state_callback(context, onContextState, this);
        // Never spawn a server: an absent one is an answer ("unavailable"), not something to fix.
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            lost();
    }

    // The connection is gone, never came or cannot be trusted: forget the server and connect
    // again after a pause. May run inside the context's own callbacks, so the context is only set
    // aside here; callbacks of its operations that still arrive are ignored (they name it).
    void lost() {
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            release(retired);
            retired = context;
            context = nullptr;
        }
        clients.clear();
        playbacks.clear();
        recordings.clear();
        sources.clear();
        sinks.clear();
        serverName.clear();
        defaultSink.clear();
        defaultSource.clear();
        ancestry.clear();
        pending = 0;
        changed = false;
        published = false;
        answering = false;
        publish(nullptr);

        const timeval when = inFuture(retryPause);
        if (retryTimer)
            api->time_restart(retryTimer, &when);
        else
            retryTimer = api->time_new(api, &when, onRetryTimer, this);
        retryPause = std::min(retryPause * 2, longestRetry);
    }

    static void onRetryTimer(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
        auto* self = static_cast<Impl*>(data);
        api->time_restart(event, nullptr); // disarmed until the next loss
        release(self->retired);
        self->retired = nullptr;
        if (!self->context)
            self->connect();
    }

    static void onContextState(pa_context* c, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (c != self->context)
            return;
        switch (pa_context_get_state(c)) {
        case PA_CONTEXT_READY:
            self->retryPause = firstRetry;
            self->listEverything();
            return;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->lost();
            return;
        default:
            return;
        }
    }

    void listEverything() {
        pa_context_set_subscribe_callback(context, onEvent, this);
        // Subscribed before listing, so nothing that changes meanwhile is missed: an event about an
        // entry the lists bring as well only asks about it once more.
        static constexpr auto mask = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_CLIENT | PA_SUBSCRIPTION_MASK_SINK_INPUT |
            PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE);
        using Question = pa_operation* (*)(Impl*);
        static constexpr Question questions[] = {
            [](Impl* s) { return pa_context_subscribe(s->context, mask, onSubscribed, s); },
            [](Impl* s) { return pa_context_get_server_info(s->context, onServerInfo, s); },
            [](Impl* s) { return pa_context_get_sink_info_list(s->context, onSink, s); },
            [](Impl* s) { return pa_context_get_source_info_list(s->context, onSource, s); },
            [](Impl* s) { return pa_context_get_client_info_list(s->context, onClient, s); },
            [](Impl* s) { return pa_context_get_sink_input_info_list(s->context, onPlayback, s); },
            [](Impl* s) { return pa_context_get_source_output_info_list(s->context, onRecording, s); },
        };
        for (const Question question : questions) {
            if (!context)
                return; // a refused question dropped the connection
            ask(question(this));
        }
    }

    // --- questions and answers -----------------------------------------------------------------

    void ask(pa_operation* operation) {
        if (!operation) {
            lost(); // only a broken connection refuses to send
            return;
        }
        if (pending++ == 0)
            heardAt = Clock::now(); // the server owes nothing older than this
        // The operation runs on without our reference; its callback brings the answer.
        pa_operation_unref(operation);
    }

    // Any word from the server: it is alive.
    void heard() {
        heardAt = Clock::now();
        answering = true;
    }

    // The last callback of a question.
    void answered() {
        heard();
        --pending;
        publishIfComplete();
    }

    // For list and entry callbacks: true when this was the question's last call (eol > 0: the end;
    // eol < 0: refused). An entry removed before the question reached the server is refused as
    // unknown; a refused list leaves no picture to trust, so the connection starts afresh.
    bool ended(int eol) {
        if (eol == 0) {
            heard();
            return false;
        }
        if (eol < 0 && pa_context_errno(context) != PA_ERR_NOENTITY) {
            lost();
            return true;
        }
        answered();
        return true;
    }

    static void onPingTimer(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (self->context && pa_context_get_state(self->context) == PA_CONTEXT_READY) {
            if (self->pending == 0)
                self->ask(pa_context_get_server_info(self->context, onServerInfo, self));
            else if (Clock::now() - self->heardAt > monitorAnswerDeadline)
                self->answering = false;
        }
        const timeval next = inFuture(monitorPingInterval);
        api->time_restart(event, &next);
    }

    static void onSubscribed(pa_context* c, int success, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (c != self->context)
            return;
        if (!success)
            self->lost();
        else
            self->answered();
    }

    static void onServerInfo(pa_context* c, const pa_server_info* info, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (c != self->context)
            return;
        if (info) {
            const std::string name = info->server_name ? info->server_name : "";
            const std::string sink = info->default_sink_name ? info->default_sink_name : "";
            const std::string source = info->default_source_name ? info->default_source_name : "";
            if (name != self->serverName || sink != self->defaultSink || source != self->defaultSource) {
                self->serverName = name;
                self->defaultSink = sink;
                self->defaultSource = source;
                self->changed = true;
            }
        }
        self->answered();
    }

    static void onClient(pa_context* c, const pa_client_info* info, int eol, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (c != self->context || self->ended(eol) || !info)
            return;
        self->clients[info->index] = SoundServerClient{info->index, identityOf(info->proplist)};
        self->changed = true;
    }

    static void onPlayback(pa_context* c, const pa_sink_input_info* info, int eol, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (c != self->context || self->ended(eol) || !info)
            return;
        self->playbacks[info->index] = streamOf(*info, SoundServerStream::Direction::Playback);
        self->changed = true;
    }

    static void onRecording(pa_context* c, const pa_source_output_info* info, int eol, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (c != self->context || self->ended(eol) || !info)
            return;
        self->recordings[info->index] =
            Recording{streamOf(*info, SoundServerStream::Direction::Record), info->source};
        self->changed = true;
    }

    static void onSource(pa_context* c, const pa_source_info* info, int eol, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (c != self->context || self->ended(eol) || !info)
            return;
        self->sources[info->index] =
            Source{info->name ? info->name : "", info->monitor_of_sink != PA_INVALID_INDEX};
        self->changed = true;
    }

    static void onSink(pa_context* c, const pa_sink_info* info, int eol, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (c != self->context || self->ended(eol) || !info)
            return;
        self->sinks[info->index] =
            Sink{info->name ? info->name : "", info->monitor_source_name ? info->monitor_source_name : ""};
        self->changed = true;
    }

    static void onEvent(pa_context* c, pa_subscription_event_type_t event, std::uint32_t index, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (c != self->context)
            return;
        self->heard();
        const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const bool removed = (event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
        // A new or changed entry is asked about, a removed one forgotten. Answers come in the order
        // of the questions, so an entry asked about and then removed is gone in the end.
        const auto forget = [self, index](auto& entries) {
            if (entries.erase(index) > 0)
                self->changed = true;
            self->publishIfComplete();
        };
        switch (facility) {
        case PA_SUBSCRIPTION_EVENT_SERVER:
            self->ask(pa_context_get_server_info(c, onServerInfo, self));
            break;
        case PA_SUBSCRIPTION_EVENT_CLIENT:
            removed ? forget(self->clients) : self->ask(pa_context_get_client_info(c, index, onClient, self));
            break;
        case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
            removed ? forget(self->playbacks)
                    : self->ask(pa_context_get_sink_input_info(c, index, onPlayback, self));
            break;
        case PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT:
            removed ? forget(self->recordings)
                    : self->ask(pa_context_get_source_output_info(c, index, onRecording, self));
            break;
        case PA_SUBSCRIPTION_EVENT_SOURCE:
            removed ? forget(self->sources)
                    : self->ask(pa_context_get_source_info_by_index(c, index, onSource, self));
            break;
        case PA_SUBSCRIPTION_EVENT_SINK:
            removed ? forget(self->sinks)
                    : self->ask(pa_context_get_sink_info_by_index(c, index, onSink, self));
            break;
        default:
            break;
        }
    }

    // --- the published picture -----------------------------------------------------------------

    void publishIfComplete() {
        // The first complete picture of a connection is published even when nothing changed.
        if (!context || pending > 0 || (published && !changed))
            return;
        changed = false;
        published = true;
        publish(std::make_shared<const Picture>(currentPicture()));
    }

    Picture currentPicture() {
        Picture next;
        SoundServerState& state = next.state;
        state.pipeWire = serverName.find("PipeWire") != std::string::npos;
        const std::uint32_t ownIndex = pa_context_get_index(context);
        for (const auto& [index, client] : clients) {
            state.clients.push_back(client);
            // The pulse layer relays us like every other client: our pipewire.sec.pid is its pid.
            const std::int32_t relay = client.identity.securityPid;
            if (state.pipeWire && index == ownIndex && relay > 0 && relay != ::getpid())
                state.serverPid = relay;
        }
        for (const auto& [index, stream] : playbacks)
            state.streams.push_back(stream);
        for (const auto& [index, recording] : recordings) {
            state.streams.push_back(recording.stream);
            const auto source = sources.find(recording.source);
            state.streams.back().fromMonitor = source != sources.end() && source->second.monitor;
        }

        // Every pid a client or stream names, with its application; /proc is read once per pid.
        std::unordered_map<std::int32_t, std::int32_t> named;
        ProcessAncestry walk;
        const auto resolve = [&](std::int32_t pid) {
            if (pid <= 0 || named.contains(pid))
                return;
            const auto cached = ancestry.find(pid);
            named.emplace(pid, cached != ancestry.end() ? cached->second : walk.applicationOf(pid));
        };
        for (const SoundServerClient& client : state.clients) {
            resolve(client.identity.processId);
            resolve(client.identity.securityPid);
        }
        for (const SoundServerStream& stream : state.streams) {
            resolve(stream.identity.processId);
            resolve(stream.identity.securityPid);
        }
        ancestry = named; // pids nobody names any more are forgotten: they may be reused
        next.applications = std::move(named);

        SoundServerDevices& devices = next.devices;
        devices.reachable = true;
        devices.defaultSink = defaultSink;
        for (const auto& [index, sink] : sinks) {
            if (sink.name == defaultSink)
                devices.defaultSinkMonitor = sink.monitorSource;
        }
        // A configured default that no longer exists is no source at all.
        for (const auto& [index, source] : sources) {
            if (source.name == defaultSource) {
                devices.defaultSource = defaultSource;
                devices.defaultSourceIsMonitor = source.monitor;
            }
        }
        return next;
    }

    void publish(std::shared_ptr<const Picture> next) {
        {
            std::lock_guard lock(mutex);
            picture = std::move(next);
            settled = true;
        }
        settledChanged.notify_all();
    }

    // The picture readers may use: none while the server owes an answer for too long.
    std::shared_ptr<const Picture> current() const {
        if (!answering)
            return nullptr;
        std::lock_guard lock(mutex);
        return picture;
    }
};

SoundServerMonitor::SoundServerMonitor() : impl_(std::make_unique<Impl>()) {
    impl_->start();
}

SoundServerMonitor::~SoundServerMonitor() {
    impl_->stop();
}

bool SoundServerMonitor::waitUntilSettled(std::chrono::milliseconds limit) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->settledChanged.wait_for(lock, limit, [this] { return impl_->settled; });
}

std::optional<SoundServerState> SoundServerMonitor::state() const {
    const auto picture = impl_->current();
    if (!picture)
        return std::nullopt;
    return picture->state;
}

ApplicationOf SoundServerMonitor::applications() const {
    return [picture = impl_->current()](std::int32_t pid) {
        if (!picture)
            return pid;
        const auto found = picture->applications.find(pid);
        return found == picture->applications.end() ? pid : found->second;
    };
}

SoundServerDevices SoundServerMonitor::devices() const {
    if (const auto picture = impl_->current())
        return picture->devices;
    SoundServerDevices none;
    none.error = "the sound server is not connected or does not answer";
    return none;
}

} // namespace parlo::platform
