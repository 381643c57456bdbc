#include "codec/AacFileWriter.h"

#include "core/ParloError.h"

#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace parlo {

namespace {

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void check(int code, const char* what, const std::filesystem::path& file) {
    if (code >= 0)
        return;
    // FFmpeg passes the system's errors on as AVERROR(errno), the negated number; its own errors are
    // tags far beyond any errno.
    std::error_code system;
    if (code > -4096)
        system = std::error_code(-code, std::generic_category());
    throw PlatformError(std::string(what) + " " + file.string() + ": " + avError(code), system);
}

} // namespace

struct AacFileWriter::Impl {
    std::filesystem::path path;
    AVFormatContext* format = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int filled = 0;           // samples waiting in `frame`
    std::int64_t nextPts = 0; // in samples
    std::int64_t written = 0; // samples handed over by the caller
    bool finished = false;

    ~Impl() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&encoder);
        if (format) {
            if (format->pb)
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    void drain() {
        for (;;) {
            const int result = avcodec_receive_packet(encoder, packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return;
            check(result, "Cannot encode AAC for", path);
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int writeResult = av_interleaved_write_frame(format, packet);
            av_packet_unref(packet);
            check(writeResult, "Cannot write", path);
        }
    }

    void sendFrame(int samples) {
        frame->nb_samples = samples;
        frame->pts = nextPts;
        nextPts += samples;
        check(avcodec_send_frame(encoder, frame), "Cannot encode AAC for", path);
        drain();
    }
};

AacFileWriter::AacFileWriter(const std::filesystem::path& output, int sampleRate, int bitRate)
    : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.path = output;
    // The encoder prints statistics at the info level; failures reach the caller as exceptions.
    av_log_set_level(AV_LOG_ERROR);
    // "ipod" is the MPEG-4 muxer flavour for audio-only .m4a files.
    check(avformat_alloc_output_context2(&d.format, nullptr, "ipod", output.c_str()), "Cannot create",
          output);
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec)
        throw PlatformError(std::string("FFmpeg has no AAC encoder"));
    d.encoder = avcodec_alloc_context3(codec);
    d.frame = av_frame_alloc();
    d.packet = av_packet_alloc();
    if (!d.encoder || !d.frame || !d.packet)
        throw PlatformError(std::string("Out of memory for the AAC encoder"));

    d.encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    d.encoder->sample_rate = sampleRate;
    av_channel_layout_default(&d.encoder->ch_layout, 1);
    d.encoder->bit_rate = bitRate;
    d.encoder->time_base = AVRational{1, sampleRate};
    if (d.format->oformat->flags & AVFMT_GLOBALHEADER)
        d.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(d.encoder, codec, nullptr), "Cannot open the AAC encoder for", output);

    d.stream = avformat_new_stream(d.format, nullptr);
    if (!d.stream)
        throw PlatformError(std::string("Out of memory for the MPEG-4 stream"));
    d.stream->time_base = d.encoder->time_base;
    check(avcodec_parameters_from_context(d.stream->codecpar, d.encoder), "Cannot configure", output);

    check(avio_open(&d.format->pb, output.c_str(), AVIO_FLAG_WRITE), "Cannot open", output);
    check(avformat_write_header(d.format, nullptr), "Cannot write the header of", output);

    d.frame->format = d.encoder->sample_fmt;
    d.frame->sample_rate = sampleRate;
    check(av_channel_layout_copy(&d.frame->ch_layout, &d.encoder->ch_layout), "Cannot configure", output);
    d.frame->nb_samples = d.encoder->frame_size;
    check(av_frame_get_buffer(d.frame, 0), "Cannot allocate a frame for", output);
}

AacFileWriter::~AacFileWriter() = default;

void AacFileWriter::write(std::span<const float> samples) {
    Impl& d = *impl_;
    if (d.finished)
        throw PlatformError("Cannot write " + d.path.string() + ": already finished");
    const int frameSize = d.encoder->frame_size;
    while (!samples.empty()) {
        if (d.filled == 0) {
            // The encoder may still reference the previous frame's buffer.
            check(av_frame_make_writable(d.frame), "Cannot allocate a frame for", d.path);
        }
        const auto take =
            std::min<std::size_t>(samples.size(), static_cast<std::size_t>(frameSize - d.filled));
        std::memcpy(reinterpret_cast<float*>(d.frame->data[0]) + d.filled, samples.data(),
                    take * sizeof(float));
        d.filled += static_cast<int>(take);
        d.written += static_cast<std::int64_t>(take);
        samples = samples.subspan(take);
        if (d.filled == frameSize) {
            d.sendFrame(frameSize);
            d.filled = 0;
        }
    }
}

void AacFileWriter::finish() {
    Impl& d = *impl_;
    if (d.finished)
        return;
    d.finished = true;
    if (d.filled > 0) // the native encoder accepts a short last frame
        d.sendFrame(d.filled);
    d.filled = 0;
    check(avcodec_send_frame(d.encoder, nullptr), "Cannot finish the AAC stream of", d.path);
    d.drain();
    check(av_write_trailer(d.format), "Cannot finish", d.path);
    check(avio_closep(&d.format->pb), "Cannot close", d.path);
}

std::int64_t AacFileWriter::samplesWritten() const {
    return impl_->written;
}

namespace {

struct InputFile {
    AVFormatContext* format = nullptr;
    ~InputFile() { avformat_close_input(&format); }
};

int openAudio(InputFile& input, const std::filesystem::path& file) {
    check(avformat_open_input(&input.format, file.c_str(), nullptr, nullptr), "Cannot open", file);
    check(avformat_find_stream_info(input.format, nullptr), "Cannot read", file);
    return av_find_best_stream(input.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
}

} // namespace

DecodedAudio decodeAudioFile(const std::filesystem::path& file) {
    InputFile input;
    const int index = openAudio(input, file);
    check(index, "No audio stream in", file);
    AVStream* stream = input.format->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        throw PlatformError("No decoder for " + file.string());

    struct Decoder {
        AVCodecContext* context = nullptr;
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        ~Decoder() {
            av_frame_free(&frame);
            av_packet_free(&packet);
            avcodec_free_context(&context);
        }
    } decoder;
    decoder.context = avcodec_alloc_context3(codec);
    check(avcodec_parameters_to_context(decoder.context, stream->codecpar), "Cannot configure a decoder for",
          file);
    check(avcodec_open2(decoder.context, codec, nullptr), "Cannot open a decoder for", file);

    DecodedAudio result;
    result.sampleRate = decoder.context->sample_rate;
    auto collect = [&] {
        for (;;) {
            const int received = avcodec_receive_frame(decoder.context, decoder.frame);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            check(received, "Cannot decode", file);
            const auto format = static_cast<AVSampleFormat>(decoder.frame->format);
            if (format != AV_SAMPLE_FMT_FLTP && format != AV_SAMPLE_FMT_FLT)
                throw PlatformError("Unexpected sample format in " + file.string());
            const int stride = format == AV_SAMPLE_FMT_FLT ? decoder.frame->ch_layout.nb_channels : 1;
            const auto* data = reinterpret_cast<const float*>(decoder.frame->data[0]);
            for (int i = 0; i < decoder.frame->nb_samples; ++i)
                result.samples.push_back(data[i * stride]);
            av_frame_unref(decoder.frame);
        }
    };
    for (;;) {
        const int read = av_read_frame(input.format, decoder.packet);
        if (read == AVERROR_EOF)
            break;
        check(read, "Cannot read", file);
        if (decoder.packet->stream_index == index) {
            const int sent = avcodec_send_packet(decoder.context, decoder.packet);
            av_packet_unref(decoder.packet);
            check(sent, "Cannot decode", file);
            collect();
        } else {
            av_packet_unref(decoder.packet);
        }
    }
    check(avcodec_send_packet(decoder.context, nullptr), "Cannot decode", file);
    collect();
    return result;
}

std::int64_t audioFileFrames(const std::filesystem::path& file) {
    InputFile input;
    const int index = openAudio(input, file);
    if (index < 0)
        return 0;
    const AVStream* stream = input.format->streams[index];
    const int rate = stream->codecpar->sample_rate;
    if (rate <= 0)
        return 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate});
    if (input.format->duration != AV_NOPTS_VALUE && input.format->duration > 0)
        return av_rescale_q(input.format->duration, AVRational{1, AV_TIME_BASE}, AVRational{1, rate});
    return 0;
}

} // namespace parlo
