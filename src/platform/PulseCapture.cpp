#include "platform/PulseCapture.h"

#include "capture/CaptureTexts.h"
#include "core/ParloError.h"
#include "platform/PulseServerInfo.h"
#include "platform/PulseSupport.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <unistd.h>

namespace parlo {

namespace {

constexpr pa_sample_spec captureSpec{PA_SAMPLE_FLOAT32LE, 48000, 2};

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

struct PulseCapture::Impl {
    // Given to each stream's callbacks.
    struct Slot {
        Impl* impl = nullptr;
        CaptureSourceKind kind = CaptureSourceKind::system;
        pa_stream* stream = nullptr;
        std::string device; // the source it records from now
    };

    SoundServerDevices prepared;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    Slot slots[2];
    ChunkHandler onChunk;
    StopHandler onStopped;
    // Touched only on the main loop's thread or under its lock.
    bool running = false;
    std::string defaultSink;
    std::string defaultSource;
    std::map<uint32_t, bool> mutedByUs; // our own playback streams, with their mute state before
    std::string ownPid = std::to_string(::getpid());
    std::atomic<bool> stopReported{false};

    ~Impl() { shutdown(); }

    void reportStopped() {
        if (running && !stopReported.exchange(true) && onStopped)
            onStopped();
    }

    // --- callbacks, on the main loop's thread -------------------------------------------------

    static void contextState(pa_context* c, void* data) {
        auto* self = static_cast<Impl*>(data);
        const auto state = pa_context_get_state(c);
        if (!PA_CONTEXT_IS_GOOD(state))
            self->reportStopped(); // the server went away
        pa_threaded_mainloop_signal(self->loop, 0);
    }

    static void streamState(pa_stream* s, void* data) {
        auto* slot = static_cast<Slot*>(data);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
            slot->impl->reportStopped(); // the server killed the stream (device gone, server gone)
        pa_threaded_mainloop_signal(slot->impl->loop, 0);
    }

    static void streamMoved(pa_stream* s, void* data) {
        auto* slot = static_cast<Slot*>(data);
        if (const char* name = pa_stream_get_device_name(s))
            slot->device = name;
    }

    static void streamRead(pa_stream* s, size_t, void* data) {
        auto* slot = static_cast<Slot*>(data);
        Impl* self = slot->impl;
        while (pa_stream_readable_size(s) > 0) {
            // The latency refers to the oldest unread frame, which is the one the peek returns.
            pa_usec_t latency = 0;
            int negative = 0;
            const bool haveLatency = pa_stream_get_latency(s, &latency, &negative) == 0;
            const double readTime = monotonicSeconds();
            const void* bytes = nullptr;
            size_t length = 0;
            if (pa_stream_peek(s, &bytes, &length) < 0 || length == 0)
                return;
            // A hole (bytes null) is audio the server lost: it is delivered as silence of its length,
            // so that the frame count, and with it the timeline, stays true to the clock.
            if (self->onChunk) {
                const pa_sample_spec* sampleSpec = pa_stream_get_sample_spec(s);
                CapturedChunk chunk;
                chunk.source = slot->kind;
                chunk.sampleRate = static_cast<int>(sampleSpec->rate);
                chunk.channels = sampleSpec->channels;
                chunk.samples.resize(length / sizeof(float));
                if (bytes)
                    std::memcpy(chunk.samples.data(), bytes, chunk.samples.size() * sizeof(float));
                chunk.readTime = readTime;
                chunk.latency = !haveLatency ? -1.0 : negative ? 0.0 : static_cast<double>(latency) / 1e6;
                self->onChunk(std::move(chunk));
            }
            pa_stream_drop(s);
        }
    }

    static void subscription(pa_context* c, pa_subscription_event_type_t event, uint32_t index, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (!self->running)
            return;
        const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            if (auto* op = pa_context_get_server_info(c, serverInfo, self))
                pa_operation_unref(op);
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
            if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
                self->mutedByUs.erase(index);
            } else if (type == PA_SUBSCRIPTION_EVENT_NEW) {
                if (auto* op = pa_context_get_sink_input_info(c, index, sinkInput, self))
                    pa_operation_unref(op);
            }
        }
    }

    static void sinkInput(pa_context* c, const pa_sink_input_info* info, int eol, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (eol != 0 || !info || !self->running)
            return;
        // Our own playback (the recording player) must not end up in the system track.
        const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
        if (!pid || self->ownPid != pid || self->mutedByUs.count(info->index))
            return;
        self->mutedByUs[info->index] = info->mute != 0;
        if (!info->mute) {
            if (auto* op = pa_context_set_sink_input_mute(c, info->index, 1, nullptr, nullptr))
                pa_operation_unref(op);
        }
    }

    static void serverInfo(pa_context* c, const pa_server_info* info, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (!info || !self->running)
            return;
        // Follow the user to a newly chosen output or input (a headset plugged in mid-call).
        if (info->default_sink_name && self->defaultSink != info->default_sink_name) {
            self->defaultSink = info->default_sink_name;
            if (auto* op = pa_context_get_sink_info_by_name(c, info->default_sink_name, sinkInfo, self))
                pa_operation_unref(op);
        }
        if (info->default_source_name && self->defaultSource != info->default_source_name) {
            self->defaultSource = info->default_source_name;
            if (auto* op = pa_context_get_source_info_by_name(c, info->default_source_name, sourceInfo, self))
                pa_operation_unref(op);
        }
    }

    static void sinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (eol != 0 || !info || !info->monitor_source_name || !self->running)
            return;
        self->moveTo(c, self->slots[0], info->monitor_source_name);
    }

    static void sourceInfo(pa_context* c, const pa_source_info* info, int eol, void* data) {
        auto* self = static_cast<Impl*>(data);
        // A monitor as default input is no microphone: stay where we are.
        if (eol != 0 || !info || info->monitor_of_sink != PA_INVALID_INDEX || !self->running)
            return;
        self->moveTo(c, self->slots[1], info->name);
    }

    void moveTo(pa_context* c, Slot& slot, const char* source) {
        if (!slot.stream || slot.device == source)
            return;
        slot.device = source;
        if (auto* op = pa_context_move_source_output_by_name(c, pa_stream_get_index(slot.stream), source,
                                                             nullptr, nullptr))
            pa_operation_unref(op);
    }

    static void signalSuccess(pa_context*, int, void* data) {
        pa_threaded_mainloop_signal(static_cast<Impl*>(data)->loop, 0);
    }

    // --- set-up and tear-down, on the caller's thread -------------------------------------------

    [[noreturn]] void fail(const std::string& what) {
        const std::string why = context ? pulse::contextError(context) : std::string("no connection");
        pa_threaded_mainloop_unlock(loop);
        shutdown();
        throw PlatformError("Sound server: " + what + ": " + why);
    }

    void connectStream(Slot& slot, const char* name, const std::string& device) {
        auto props = pulse::ownProplist(name);
        slot.stream = pa_stream_new_with_proplist(context, name, &captureSpec, nullptr, props.get());
        if (!slot.stream)
            fail(std::string("cannot create the stream ") + name);
        slot.device = device;
        pa_stream_set_state_callback(slot.stream, streamState, &slot);
        pa_stream_set_read_callback(slot.stream, streamRead, &slot);
        pa_stream_set_moved_callback(slot.stream, streamMoved, &slot);
        // Ten-millisecond fragments keep the levels lively and the per-buffer timing fine-grained.
        const auto max = static_cast<uint32_t>(-1);
        const pa_buffer_attr attributes{max, max, max, max,
                                        static_cast<uint32_t>(pa_usec_to_bytes(10000, &captureSpec))};
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_record(slot.stream, device.c_str(), &attributes, flags) < 0)
            fail(std::string("cannot record from ") + device);
    }

    void start() {
        loop = pa_threaded_mainloop_new();
        if (!loop)
            throw PlatformError(std::string("Sound server: cannot create a main loop"));
        pa_threaded_mainloop_set_name(loop, "parlo-pulse");
        auto props = pulse::ownProplist();
        context =
            pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), ownApplicationName, props.get());
        if (!context)
            throw PlatformError(std::string("Sound server: cannot create a context"));
        pa_context_set_state_callback(context, contextState, this);
        if (pa_threaded_mainloop_start(loop) < 0)
            throw PlatformError(std::string("Sound server: cannot start the main loop"));

        pa_threaded_mainloop_lock(loop);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            fail("cannot connect");
        for (;;) {
            const auto state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY)
                break;
            if (!PA_CONTEXT_IS_GOOD(state))
                fail("cannot connect");
            pa_threaded_mainloop_wait(loop);
        }

        defaultSink = prepared.defaultSink;
        defaultSource = prepared.defaultSource;
        slots[0] = Slot{this, CaptureSourceKind::system, nullptr, {}};
        slots[1] = Slot{this, CaptureSourceKind::microphone, nullptr, {}};
        connectStream(slots[0], "Mello Parlo system audio", prepared.defaultSinkMonitor);
        connectStream(slots[1], "Mello Parlo microphone", prepared.defaultSource);
        for (;;) {
            const auto a = pa_stream_get_state(slots[0].stream);
            const auto b = pa_stream_get_state(slots[1].stream);
            if (a == PA_STREAM_READY && b == PA_STREAM_READY)
                break;
            if (!PA_STREAM_IS_GOOD(a) || !PA_STREAM_IS_GOOD(b))
                fail("a record stream failed to start");
            pa_threaded_mainloop_wait(loop);
        }

        running = true;
        pa_context_set_subscribe_callback(context, subscription, this);
        if (auto* op =
                pa_context_subscribe(context,
                                     static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                                         PA_SUBSCRIPTION_MASK_SINK_INPUT),
                                     nullptr, nullptr))
            pa_operation_unref(op);
        // Playback of ours that was already running when the capture started.
        if (auto* op = pa_context_get_sink_input_info_list(context, sinkInput, this))
            pa_operation_unref(op);
        // The defaults may have changed between prepare() and now.
        if (auto* op = pa_context_get_server_info(context, serverInfo, this))
            pa_operation_unref(op);
        pa_threaded_mainloop_unlock(loop);
    }

    void shutdown() {
        if (!loop)
            return;
        pa_threaded_mainloop_lock(loop);
        running = false;
        for (auto& slot : slots) {
            if (!slot.stream)
                continue;
            pa_stream_set_state_callback(slot.stream, nullptr, nullptr);
            pa_stream_set_read_callback(slot.stream, nullptr, nullptr);
            pa_stream_set_moved_callback(slot.stream, nullptr, nullptr);
            if (PA_STREAM_IS_GOOD(pa_stream_get_state(slot.stream)))
                pa_stream_disconnect(slot.stream);
            pa_stream_unref(slot.stream);
            slot.stream = nullptr;
        }
        if (context) {
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            // Give our own playback its sound back, waiting so that it is done before we go.
            if (pa_context_get_state(context) == PA_CONTEXT_READY) {
                for (const auto& [index, wasMuted] : mutedByUs) {
                    if (wasMuted)
                        continue;
                    if (auto* op = pa_context_set_sink_input_mute(context, index, 0, signalSuccess, this)) {
                        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING &&
                               pa_context_get_state(context) == PA_CONTEXT_READY)
                            pa_threaded_mainloop_wait(loop);
                        pa_operation_unref(op);
                    }
                }
            }
            mutedByUs.clear();
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }
};

PulseCapture::PulseCapture() : impl_(std::make_unique<Impl>()) {}

PulseCapture::~PulseCapture() = default;

void PulseCapture::prepare() {
    impl_->prepared = querySoundServerDevices();
    // No server and no output to monitor are the two things a user can fix; both get one sentence.
    if (!impl_->prepared.reachable || impl_->prepared.defaultSinkMonitor.empty())
        throw ParloError(CaptureText::noSystemAudio);
    if (impl_->prepared.defaultSource.empty() || impl_->prepared.defaultSourceIsMonitor)
        throw ParloError(CaptureText::noMicrophone);
}

void PulseCapture::start(ChunkHandler onChunk, StopHandler onStopped) {
    if (impl_->prepared.defaultSinkMonitor.empty())
        prepare();
    impl_->onChunk = std::move(onChunk);
    impl_->onStopped = std::move(onStopped);
    impl_->stopReported = false;
    impl_->start();
}

void PulseCapture::stop() {
    impl_->shutdown();
}

} // namespace parlo
