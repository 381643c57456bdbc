#include "platform/PulseCapture.h"

#include "capture/CaptureTexts.h"
#include "core/ParloError.h"
#include "platform/PulseServerInfo.h"
#include "platform/PulseSupport.h"

#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <utility>

namespace parlo {

namespace {

constexpr pa_sample_spec captureSpec{PA_SAMPLE_FLOAT32LE, 48000, 2};
// The fragment asked of the server; a real device then delivers about this much at a time.
constexpr pa_usec_t fragmentUsec = 40000;
// Less than this is left waiting for the next delivery (the test daemon's null sinks deliver a
// millisecond at a time); more than this is left for the next callback.
constexpr pa_usec_t minimumReadUsec = 20000;
constexpr pa_usec_t maximumReadUsec = 500000;

Q_LOGGING_CATEGORY(pulseCaptureLog, "parlo.capture.pulse")

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
        const char* name = "";
        pa_stream* stream = nullptr;
        std::string device;         // the source it records from now
        bool discontinuity = false; // a break reported since the last read
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
    std::atomic<bool> stopReported{false};
    std::mutex shutdownMutex;

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
        slot->impl->reportBreak(*slot, "the stream moved to another device");
    }

    static void streamRead(pa_stream*, size_t, void* data) {
        auto* slot = static_cast<Slot*>(data);
        slot->impl->read(*slot, false);
    }

    // Reads what the stream holds into one chunk. The server hands over audio in pieces as small as
    // a millisecond; taking them only once a fragment's worth is waiting keeps the work per second
    // small. One call takes a bounded amount, so that the thread lets go of the main loop's lock
    // even when a backlog has piled up (a stop is waiting for it); the rest comes with the next
    // delivery, or with the stop's last read (`everything`).
    void read(Slot& slot, bool everything) {
        pa_stream* s = slot.stream;
        if (!s || pa_stream_get_state(s) != PA_STREAM_READY)
            return;
        const pa_sample_spec* sampleSpec = pa_stream_get_sample_spec(s);
        const std::size_t readable = pa_stream_readable_size(s);
        if (readable == static_cast<std::size_t>(-1) || readable == 0 ||
            (!everything && readable < pa_usec_to_bytes(minimumReadUsec, sampleSpec)))
            return;
        const std::size_t budget =
            everything ? readable : std::min(readable, pa_usec_to_bytes(maximumReadUsec, sampleSpec));

        CapturedChunk chunk;
        chunk.source = slot.kind;
        chunk.sampleRate = static_cast<int>(sampleSpec->rate);
        chunk.channels = sampleSpec->channels;
        chunk.readTime = monotonicSeconds();
        chunk.latency = endLatency(slot, readable - budget);
        chunk.discontinuity = std::exchange(slot.discontinuity, false);
        chunk.samples.reserve(budget / sizeof(float));
        std::size_t taken = 0;
        while (taken < budget) {
            const void* bytes = nullptr;
            std::size_t length = 0;
            if (pa_stream_peek(s, &bytes, &length) < 0 || length == 0)
                break;
            const std::size_t at = chunk.samples.size();
            chunk.samples.resize(at + length / sizeof(float));
            if (bytes) {
                std::memcpy(chunk.samples.data() + at, bytes, length / sizeof(float) * sizeof(float));
            } else {
                // A hole is audio the server lost: silence of its length keeps the frame count, and
                // with it the timeline, true to the clock.
                qCInfo(pulseCaptureLog, "%s: the server lost %.1f ms of audio; written as silence", slot.name,
                       static_cast<double>(pa_bytes_to_usec(length, sampleSpec)) / 1000.0);
            }
            pa_stream_drop(s);
            taken += length;
        }
        // Whole frames only; a partial one would shift the channels of everything after it.
        chunk.samples.resize(chunk.samples.size() / sampleSpec->channels * sampleSpec->channels);
        if (!chunk.samples.empty() && onChunk)
            onChunk(std::move(chunk));
    }

    // How long before now the end of what is read now was delivered. The callback runs when audio
    // has just arrived, so the newest frame is as young as the transport makes it; what stays
    // unread (`unread` bytes) came after the end. The server's own figures are not used: the
    // stream latency is computed from a timing update up to a second and a half old and reads as
    // zero here, and the device and transport latencies are snapshots that lag behind when a
    // buffer drains (a monitor's sink reported 220 ms for its first second, then 2 ms) or the
    // machine is busy: they would make readings early, which the clock cannot tell from the truth.
    static double endLatency(const Slot& slot, std::size_t unread) {
        return static_cast<double>(pa_bytes_to_usec(unread, pa_stream_get_sample_spec(slot.stream))) / 1e6;
    }

    // The server says the stream went on elsewhere or paused: the audio around it is not one
    // continuous run of frames, and the clock measures the break from the next readings.
    void reportBreak(Slot& slot, const char* what) {
        slot.discontinuity = true;
        qCInfo(pulseCaptureLog, "%s: %s", slot.name, what);
    }

    static void streamOverflow(pa_stream*, void* data) {
        auto* slot = static_cast<Slot*>(data);
        slot->impl->reportBreak(*slot, "the server's buffer overflowed");
    }

    static void streamSuspended(pa_stream* s, void* data) {
        auto* slot = static_cast<Slot*>(data);
        slot->impl->reportBreak(*slot, pa_stream_is_suspended(s) == 1 ? "the source was suspended"
                                                                      : "the source was resumed");
    }

    static void subscription(pa_context* c, pa_subscription_event_type_t event, uint32_t, void* data) {
        auto* self = static_cast<Impl*>(data);
        if (!self->running)
            return;
        if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
            if (auto* op = pa_context_get_server_info(c, serverInfo, self))
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

    // --- set-up and tear-down, on the caller's thread -------------------------------------------

    [[noreturn]] void fail(const std::string& what) {
        const std::string why = context ? pulse::contextError(context) : std::string("no connection");
        pa_threaded_mainloop_unlock(loop);
        shutdown();
        throw PlatformError("Sound server: " + what + ": " + why);
    }

    void connectStream(Slot& slot, const std::string& device) {
        auto props = pulse::ownProplist(slot.name);
        slot.stream = pa_stream_new_with_proplist(context, slot.name, &captureSpec, nullptr, props.get());
        if (!slot.stream)
            fail(std::string("cannot create the stream ") + slot.name);
        slot.device = device;
        pa_stream_set_state_callback(slot.stream, streamState, &slot);
        pa_stream_set_read_callback(slot.stream, streamRead, &slot);
        pa_stream_set_moved_callback(slot.stream, streamMoved, &slot);
        pa_stream_set_overflow_callback(slot.stream, streamOverflow, &slot);
        pa_stream_set_suspended_callback(slot.stream, streamSuspended, &slot);
        const auto max = static_cast<uint32_t>(-1);
        const pa_buffer_attr attributes{max, max, max, max,
                                        static_cast<uint32_t>(pa_usec_to_bytes(fragmentUsec, &captureSpec))};
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
        slots[0] = Slot{this, CaptureSourceKind::system, "Mello Parlo system audio", nullptr, {}, false};
        slots[1] = Slot{this, CaptureSourceKind::microphone, "Mello Parlo microphone", nullptr, {}, false};
        connectStream(slots[0], prepared.defaultSinkMonitor);
        connectStream(slots[1], prepared.defaultSource);
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
        if (auto* op = pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
            pa_operation_unref(op);
        // The defaults may have changed between prepare() and now.
        if (auto* op = pa_context_get_server_info(context, serverInfo, this))
            pa_operation_unref(op);
        pa_threaded_mainloop_unlock(loop);
    }

    // Safe against a second caller (the owner's destructor while its stop thread is in here): the
    // second waits for the first and finds nothing left to do.
    void shutdown() {
        std::lock_guard serial(shutdownMutex);
        if (!loop)
            return;
        pa_threaded_mainloop_lock(loop);
        // What the server delivered before the stop belongs to the recording.
        if (running) {
            for (auto& slot : slots)
                read(slot, true);
        }
        running = false;
        for (auto& slot : slots) {
            if (!slot.stream)
                continue;
            pa_stream_set_state_callback(slot.stream, nullptr, nullptr);
            pa_stream_set_read_callback(slot.stream, nullptr, nullptr);
            pa_stream_set_moved_callback(slot.stream, nullptr, nullptr);
            pa_stream_set_overflow_callback(slot.stream, nullptr, nullptr);
            pa_stream_set_suspended_callback(slot.stream, nullptr, nullptr);
            if (PA_STREAM_IS_GOOD(pa_stream_get_state(slot.stream)))
                pa_stream_disconnect(slot.stream);
            pa_stream_unref(slot.stream);
            slot.stream = nullptr;
        }
        if (context) {
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
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
