// A sound-server client that opens the kinds of stream parec and paplay cannot: the peak-detecting
// recording a volume control draws its meters from, and streams started paused (corked). It prints
// "ready" once the stream is up and keeps it open until it is killed.
//
//   parlo_stream_client peak|corked-record|corked-playback CLIENT-NAME APPLICATION-ID [DEVICE]
#include <pulse/context.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::string mode;
    std::string device;
};

void onStreamState(pa_stream* stream, void*) {
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        std::puts("ready");
        std::fflush(stdout);
        return;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        std::fputs("stream failed\n", stderr);
        std::exit(1);
    default:
        return;
    }
}

void onRead(pa_stream* stream, std::size_t, void*) {
    const void* data = nullptr;
    std::size_t length = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &length) == 0 && length > 0)
        pa_stream_drop(stream);
}

void openStream(pa_context* context, const Options& options) {
    const char* device = options.device.empty() ? nullptr : options.device.c_str();
    if (options.mode == "peak") {
        // What a volume control asks for: one float per 40 ms of the source's peaks.
        const pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32LE, 25, 1};
        pa_stream* stream = pa_stream_new(context, "Meter", &sampleSpec, nullptr);
        pa_stream_set_state_callback(stream, onStreamState, nullptr);
        pa_stream_set_read_callback(stream, onRead, nullptr);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = sizeof(float);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_PEAK_DETECT | PA_STREAM_ADJUST_LATENCY |
                                                          PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream, device, &attributes, flags) < 0)
            std::exit(1);
    } else if (options.mode == "corked-record") {
        const pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, 48000, 2};
        pa_stream* stream = pa_stream_new(context, "Paused recording", &sampleSpec, nullptr);
        pa_stream_set_state_callback(stream, onStreamState, nullptr);
        pa_stream_set_read_callback(stream, onRead, nullptr);
        if (pa_stream_connect_record(stream, device, nullptr, PA_STREAM_START_CORKED) < 0)
            std::exit(1);
    } else if (options.mode == "corked-playback") {
        const pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, 48000, 2};
        pa_stream* stream = pa_stream_new(context, "Paused playback", &sampleSpec, nullptr);
        pa_stream_set_state_callback(stream, onStreamState, nullptr);
        if (pa_stream_connect_playback(stream, device, nullptr, PA_STREAM_START_CORKED, nullptr, nullptr) < 0)
            std::exit(1);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", options.mode.c_str());
        std::exit(2);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs(
            "usage: parlo_stream_client peak|corked-record|corked-playback NAME APPLICATION-ID [DEVICE]\n",
            stderr);
        return 2;
    }
    static Options options{argv[1], argc > 4 ? argv[4] : ""};

    pa_mainloop* loop = pa_mainloop_new();
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, argv[2]);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, argv[3]);
    pa_context* context = pa_context_new_with_proplist(pa_mainloop_get_api(loop), argv[2], properties);
    pa_proplist_free(properties);
    pa_context_set_state_callback(
        context,
        [](pa_context* c, void*) {
            const pa_context_state_t state = pa_context_get_state(c);
            if (state == PA_CONTEXT_READY)
                openStream(c, options);
            else if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
                std::exit(1);
        },
        nullptr);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return 1;
    int status = 0;
    pa_mainloop_run(loop, &status);
    return status;
}
