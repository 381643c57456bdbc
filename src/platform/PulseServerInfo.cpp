#include "platform/PulseServerInfo.h"

#include "capture/CaptureTexts.h"
#include "core/ParloError.h"
#include "platform/PulseSupport.h"

#include <functional>

namespace parlo {

namespace {

// A single-threaded libpulse connection for short blocking questions, with a deadline on every wait
// so that a hung server cannot hang the caller.
class BlockingConnection {
public:
    explicit BlockingConnection(std::chrono::milliseconds timeout)
        : deadline_(std::chrono::steady_clock::now() + timeout) {
        loop_ = pa_mainloop_new();
        auto props = pulse::ownProplist();
        context_ = pa_context_new_with_proplist(pa_mainloop_get_api(loop_), ownApplicationName, props.get());
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error_ = pulse::contextError(context_);
            return;
        }
        runUntil([this] {
            const auto state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (pa_context_get_state(context_) != PA_CONTEXT_READY && error_.empty())
            error_ = pulse::contextError(context_);
    }

    ~BlockingConnection() {
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        pa_mainloop_free(loop_);
    }

    BlockingConnection(const BlockingConnection&) = delete;
    BlockingConnection& operator=(const BlockingConnection&) = delete;

    bool ready() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    pa_context* context() const { return context_; }

    // Iterates the loop until `done` holds; false on time-out or a lost connection.
    bool runUntil(const std::function<bool()>& done) {
        while (!done()) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
                error_ = pulse::contextError(context_);
                return false;
            }
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                error_ = "the sound server did not answer in time";
                return false;
            }
            // One poll with the remaining time as its limit, then dispatch.
            if (pa_mainloop_prepare(loop_, static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(loop_) < 0 || pa_mainloop_dispatch(loop_) < 0) {
                error_ = "the sound server's connection failed";
                return false;
            }
        }
        return true;
    }

    // Waits for an operation to finish and releases it.
    bool wait(pa_operation* operation) {
        if (!operation) {
            error_ = pulse::contextError(context_);
            return false;
        }
        const bool finished =
            runUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        if (!finished)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return finished;
    }

    pa_stream* stream_ = nullptr;

private:
    std::chrono::steady_clock::time_point deadline_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::string error_;
};

SoundServerDevices readDevices(BlockingConnection& connection) {
    SoundServerDevices devices;
    if (!connection.ready()) {
        devices.error = connection.error();
        return devices;
    }
    auto* context = connection.context();
    const bool answered = connection.wait(pa_context_get_server_info(
        context,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* out = static_cast<SoundServerDevices*>(data);
            if (info && info->default_sink_name)
                out->defaultSink = info->default_sink_name;
            if (info && info->default_source_name)
                out->defaultSource = info->default_source_name;
        },
        &devices));
    if (!answered) {
        devices.error = connection.error();
        return devices;
    }
    if (!devices.defaultSink.empty()) {
        connection.wait(pa_context_get_sink_info_by_name(
            context, devices.defaultSink.c_str(),
            [](pa_context*, const pa_sink_info* info, int eol, void* data) {
                if (eol == 0 && info && info->monitor_source_name)
                    static_cast<SoundServerDevices*>(data)->defaultSinkMonitor = info->monitor_source_name;
            },
            &devices));
    }
    if (!devices.defaultSource.empty()) {
        bool found = false;
        struct Answer {
            SoundServerDevices* devices;
            bool* found;
        } answer{&devices, &found};
        connection.wait(pa_context_get_source_info_by_name(
            context, devices.defaultSource.c_str(),
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* a = static_cast<Answer*>(data);
                if (eol == 0 && info) {
                    *a->found = true;
                    a->devices->defaultSourceIsMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
                }
            },
            &answer));
        // A configured default that no longer exists is no source at all.
        if (!found)
            devices.defaultSource.clear();
    }
    devices.reachable = connection.ready();
    if (!devices.reachable)
        devices.error = connection.error();
    return devices;
}

} // namespace

SoundServerDevices querySoundServerDevices(std::chrono::milliseconds timeout) {
    BlockingConnection connection(timeout);
    return readDevices(connection);
}

void recordFromDefaultMonitor(std::chrono::milliseconds timeout) {
    BlockingConnection connection(timeout);
    const SoundServerDevices devices = readDevices(connection);
    if (!devices.reachable)
        throw PlatformError("Sound server: " + devices.error);
    if (devices.defaultSinkMonitor.empty())
        throw ParloError(CaptureText::noSystemAudio);

    const pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32LE, 48000, 2};
    auto props = pulse::ownProplist("Access check");
    connection.stream_ =
        pa_stream_new_with_proplist(connection.context(), "Access check", &sampleSpec, nullptr, props.get());
    if (!connection.stream_)
        throw PlatformError("Sound server: " + pulse::contextError(connection.context()));
    bool gotData = false;
    pa_stream_set_read_callback(
        connection.stream_,
        [](pa_stream* stream, size_t, void* data) {
            const void* bytes = nullptr;
            size_t length = 0;
            while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &bytes, &length) == 0 &&
                   length > 0) {
                *static_cast<bool*>(data) = true;
                pa_stream_drop(stream);
            }
        },
        &gotData);
    const pa_buffer_attr attributes{static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                                    static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                                    static_cast<uint32_t>(pa_usec_to_bytes(20000, &sampleSpec))};
    if (pa_stream_connect_record(connection.stream_, devices.defaultSinkMonitor.c_str(), &attributes,
                                 PA_STREAM_ADJUST_LATENCY) < 0)
        throw PlatformError("Sound server: " + pulse::contextError(connection.context()));
    pa_stream* stream = connection.stream_;
    const bool delivered =
        connection.runUntil([&] { return gotData || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)); });
    if (!delivered || !gotData) {
        const std::string why =
            connection.error().empty() ? pulse::contextError(connection.context()) : connection.error();
        throw PlatformError("Recording from " + devices.defaultSinkMonitor + " failed: " + why);
    }
}

} // namespace parlo
