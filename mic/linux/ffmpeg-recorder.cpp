#include "linux/ffmpeg-recorder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <system_error>

#include "media/ffmpeg-owners.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace pelko::mic::ffmpeg {

using ::pelko::ffmpeg::CodecContext;
using ::pelko::ffmpeg::FramePtr;
using ::pelko::ffmpeg::InputContext;
using ::pelko::ffmpeg::OutputContext;
using ::pelko::ffmpeg::PacketPtr;
using ::pelko::ffmpeg::ResamplerPtr;
using ::pelko::ffmpeg::SampleFifoPtr;

namespace {

constexpr double silenceDB = -160;
/// How long the capture thread waits before asking an input again that had nothing yet.
constexpr Duration retryPause = seconds(0.005);

int interruptRequested(void* stopping) {
    return static_cast<std::atomic<bool>*>(stopping)->load() ? 1 : 0;
}

/// Whether the input is a live capture device, whose reads keep real time by themselves.
bool isLiveDevice(const AVFormatContext& input) {
    const AVClass* kind = input.iformat ? input.iformat->priv_class : nullptr;
    return kind && kind->category == AV_CLASS_CATEGORY_DEVICE_AUDIO_INPUT;
}

}  // namespace

std::optional<std::string> containerFor(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".m4a") return "ipod";
    if (extension == ".mp4") return "mp4";
    if (extension == ".aac") return "adts";
    return std::nullopt;
}

double averagePowerDB(double sumOfSquares, std::int64_t count) {
    if (count <= 0 || !(sumOfSquares > 0)) return silenceDB;
    return std::max(silenceDB, 10 * std::log10(sumOfSquares / static_cast<double>(count)));
}

/// Everything FFmpeg holds for one recording. Made by `prepareToRecord` on the caller's
/// thread, then used only by the capture thread until it ends.
struct FFmpegRecorder::Pipeline {
    InputContext input;
    int streamIndex = -1;
    bool paced = false;
    InputSource source;
    CodecContext decoder;
    ResamplerPtr resampler;
    /// What the resampler was set up for; a change of input format sets it up again.
    AVChannelLayout resampledLayout{};
    int resampledRate = 0;
    int resampledFormat = -1;
    CodecContext encoder;
    OutputContext output;
    SampleFifoPtr fifo;
    std::int64_t samplesEncoded = 0;
    std::vector<float> buffer;

    ~Pipeline() { av_channel_layout_uninit(&resampledLayout); }

    bool openInput(const InputSource& candidate, std::atomic<bool>& stopping) {
        AVFormatContext* context = avformat_alloc_context();
        if (!context) return false;
        context->interrupt_callback = {interruptRequested, &stopping};
        const AVInputFormat* format = nullptr;
        if (!candidate.format.empty()) {
            format = av_find_input_format(candidate.format.c_str());
            if (!format) {
                avformat_free_context(context);
                return false;
            }
        }
        // On failure avformat_open_input frees the context itself.
        if (avformat_open_input(&context, candidate.name.c_str(), format, nullptr) < 0) {
            return false;
        }
        InputContext opened(context);
        const AVCodec* codec = nullptr;
        int index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        // Devices describe their stream when they open; files may need a look at their data.
        if (index < 0 || context->streams[index]->codecpar->sample_rate <= 0 ||
            context->streams[index]->codecpar->ch_layout.nb_channels <= 0) {
            if (avformat_find_stream_info(context, nullptr) < 0) return false;
            index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        }
        if (index < 0 || !codec) return false;
        CodecContext decoding(avcodec_alloc_context3(codec));
        if (!decoding ||
            avcodec_parameters_to_context(decoding.get(), context->streams[index]->codecpar) < 0 ||
            avcodec_open2(decoding.get(), codec, nullptr) < 0) {
            return false;
        }
        input = std::move(opened);
        streamIndex = index;
        decoder = std::move(decoding);
        paced = !isLiveDevice(*input);
        source = candidate;
        return true;
    }

    bool openEncoder(const RecorderSettings& settings, const AVOutputFormat& muxer) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec) return false;
        encoder.reset(avcodec_alloc_context3(codec));
        if (!encoder) return false;
        AVCodecContext& context = *encoder;
        context.sample_rate = static_cast<int>(settings.sampleRate);
        av_channel_layout_default(&context.ch_layout, settings.channels);
        context.sample_fmt = AV_SAMPLE_FMT_FLTP;
        context.bit_rate = settings.encoderBitRate;
        if (settings.bitRateStrategy == BitRateStrategy::constant) {
            // The encoder spends about the same bits on every frame; the bounds say so to the
            // container as well.
            context.rc_min_rate = context.rc_max_rate = settings.encoderBitRate;
            context.rc_buffer_size = settings.encoderBitRate;
        }
        context.time_base = {1, context.sample_rate};
        if (muxer.flags & AVFMT_GLOBALHEADER) context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(&context, codec, nullptr) < 0) return false;
        fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 1, std::max(context.frame_size, 1024)));
        return fifo != nullptr;
    }

    /// Creates the file and writes its header. False, with nothing left on disk, on failure.
    bool openOutput(const std::filesystem::path& file, const std::string& container) {
        AVFormatContext* context = nullptr;
        if (avformat_alloc_output_context2(&context, nullptr, container.c_str(), file.c_str()) <
                0 ||
            !context) {
            return false;
        }
        OutputContext opened(context);
        AVStream* stream = avformat_new_stream(context, nullptr);
        if (!stream || avcodec_parameters_from_context(stream->codecpar, encoder.get()) < 0) {
            return false;
        }
        stream->time_base = encoder->time_base;
        // The explicit protocol keeps a name such as "pipe:1" a plain file.
        const std::string url = "file:" + file.string();
        if (avio_open(&context->pb, url.c_str(), AVIO_FLAG_WRITE) < 0) return false;
        if (avformat_write_header(context, nullptr) < 0) {
            opened.reset();
            std::error_code ignored;
            std::filesystem::remove(file, ignored);
            return false;
        }
        output = std::move(opened);
        return true;
    }

    /// Resamples one decoded frame into `buffer`; the number of samples, 0 when none.
    int resample(const AVFrame& frame, const RecorderSettings& settings) {
        AVChannelLayout layout{};
        if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame.ch_layout.nb_channels == 0) {
            av_channel_layout_default(&layout, std::max(frame.ch_layout.nb_channels, 1));
        } else if (av_channel_layout_copy(&layout, &frame.ch_layout) < 0) {
            return 0;
        }
        if (!resampler || frame.sample_rate != resampledRate || frame.format != resampledFormat ||
            av_channel_layout_compare(&layout, &resampledLayout) != 0) {
            AVChannelLayout mono{};
            av_channel_layout_default(&mono, settings.channels);
            SwrContext* context = nullptr;
            const bool made = swr_alloc_set_opts2(&context, &mono, AV_SAMPLE_FMT_FLTP,
                                                  static_cast<int>(settings.sampleRate), &layout,
                                                  static_cast<AVSampleFormat>(frame.format),
                                                  frame.sample_rate, 0, nullptr) >= 0;
            av_channel_layout_uninit(&mono);
            resampler.reset(context);
            if (!made || swr_init(context) < 0) {
                resampler.reset();
                av_channel_layout_uninit(&layout);
                return 0;
            }
            av_channel_layout_uninit(&resampledLayout);
            resampledLayout = layout;
            layout = {};
            resampledRate = frame.sample_rate;
            resampledFormat = frame.format;
        }
        av_channel_layout_uninit(&layout);
        return convert(const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
    }

    /// Runs the resampler on `count` input samples (none: what it still holds).
    int convert(const uint8_t** planes, int count) {
        if (!resampler) return 0;
        const int room = swr_get_out_samples(resampler.get(), count);
        if (room <= 0) return 0;
        buffer.resize(static_cast<size_t>(room));
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(buffer.data())};
        return std::max(0, swr_convert(resampler.get(), out, room, planes, count));
    }

    /// Writes what the encoder has ready.
    bool drainPackets() {
        PacketPtr packet(av_packet_alloc());
        if (!packet) return false;
        for (;;) {
            const int status = avcodec_receive_packet(encoder.get(), packet.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
            if (status < 0) return false;
            packet->stream_index = 0;
            av_packet_rescale_ts(packet.get(), encoder->time_base, output->streams[0]->time_base);
            if (av_interleaved_write_frame(output.get(), packet.get()) < 0) return false;
        }
    }

    /// Encodes whole frames from the queue; with `final`, also the short rest, then flushes.
    bool encode(bool final) {
        const int frameSize = encoder->frame_size > 0 ? encoder->frame_size : 1024;
        for (;;) {
            const int queued = av_audio_fifo_size(fifo.get());
            if (queued == 0 || (queued < frameSize && !final)) break;
            FramePtr frame(av_frame_alloc());
            if (!frame) return false;
            frame->nb_samples = std::min(queued, frameSize);
            frame->format = AV_SAMPLE_FMT_FLTP;
            frame->sample_rate = encoder->sample_rate;
            if (av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
                av_frame_get_buffer(frame.get(), 0) < 0 ||
                av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->data),
                                   frame->nb_samples) < frame->nb_samples) {
                return false;
            }
            frame->pts = samplesEncoded;
            samplesEncoded += frame->nb_samples;
            if (avcodec_send_frame(encoder.get(), frame.get()) < 0 || !drainPackets()) {
                return false;
            }
        }
        if (final) {
            avcodec_send_frame(encoder.get(), nullptr);
            return drainPackets();
        }
        return true;
    }

    /// Writes the index (an MPEG-4 file is playable only with it) and closes the file.
    void close() {
        if (!output) return;
        av_write_trailer(output.get());
        output.reset();
    }
};

FFmpegRecorder::FFmpegRecorder(Clock& clock, std::vector<InputSource> inputs,
                               std::filesystem::path file, std::string container,
                               const RecorderSettings& settings)
    : clock_(clock),
      inputs_(std::move(inputs)),
      file_(std::move(file)),
      container_(std::move(container)),
      settings_(settings) {}

FFmpegRecorder::~FFmpegRecorder() {
    stop();
    if (pipeline_ && !started_) {
        pipeline_.reset();
        std::error_code ignored;
        std::filesystem::remove(file_, ignored);
    }
}

void FFmpegRecorder::setMeteringEnabled(bool enabled) {
    std::lock_guard lock(meterMutex_);
    metering_ = enabled;
}

bool FFmpegRecorder::prepareToRecord() {
    if (pipeline_) return true;
    if (started_) return false;
    auto pipeline = std::make_unique<Pipeline>();
    bool opened = false;
    for (const auto& candidate : inputs_) {
        if (pipeline->openInput(candidate, stopping_)) {
            opened = true;
            break;
        }
    }
    const AVOutputFormat* muxer = av_guess_format(container_.c_str(), nullptr, nullptr);
    if (!opened || !muxer || !pipeline->openEncoder(settings_, *muxer) ||
        !pipeline->openOutput(file_, container_)) {
        return false;
    }
    pipeline_ = std::move(pipeline);
    return true;
}

bool FFmpegRecorder::recordForDuration(double seconds) {
    if (started_ || !(seconds > 0)) return false;
    if (!prepareToRecord()) return false;
    // A limit past what the count of samples can hold is no limit.
    const double samples = std::ceil(seconds * settings_.sampleRate);
    const std::int64_t limit = samples < 9e18 ? static_cast<std::int64_t>(samples)
                                              : std::numeric_limits<std::int64_t>::max();
    started_ = true;
    recording_ = true;
    captureThread_ = std::thread([this, limit] { capture(limit); });
    return true;
}

double FFmpegRecorder::currentTime() {
    return static_cast<double>(samplesRecorded_.load()) / settings_.sampleRate;
}

void FFmpegRecorder::updateMeters() {
    std::lock_guard lock(meterMutex_);
    if (!metering_) return;
    // An update that finds no new samples keeps the last reading instead of falling to silence.
    if (meteredSamples_ > 0) power_ = averagePowerDB(sumOfSquares_, meteredSamples_);
    sumOfSquares_ = 0;
    meteredSamples_ = 0;
}

double FFmpegRecorder::averagePower(int channel) {
    std::lock_guard lock(meterMutex_);
    return channel == 0 && metering_ ? power_ : silenceDB;
}

void FFmpegRecorder::stop() {
    stopping_ = true;
    stopRequested_.raise();
    if (captureThread_.joinable()) captureThread_.join();
}

std::optional<InputSource> FFmpegRecorder::openedInput() const {
    if (!pipeline_) return std::nullopt;
    return pipeline_->source;
}

bool FFmpegRecorder::take(const float* samples, int count, std::int64_t sampleLimit) {
    const std::int64_t room = sampleLimit - samplesRecorded_.load();
    const int used = static_cast<int>(std::min<std::int64_t>(count, room));
    if (used > 0) {
        double sum = 0;
        for (int i = 0; i < used; ++i) sum += static_cast<double>(samples[i]) * samples[i];
        {
            std::lock_guard lock(meterMutex_);
            sumOfSquares_ += sum;
            meteredSamples_ += used;
        }
        void* planes[1] = {const_cast<float*>(samples)};
        if (av_audio_fifo_write(pipeline_->fifo.get(), planes, used) < used) return false;
        samplesRecorded_ += used;
        if (!pipeline_->encode(false)) return false;
    }
    return samplesRecorded_.load() < sampleLimit;
}

void FFmpegRecorder::capture(std::int64_t sampleLimit) {
    Pipeline& pipeline = *pipeline_;
    PacketPtr packet(av_packet_alloc());
    FramePtr decoded(av_frame_alloc());
    const Instant began = clock_.now();
    bool going = packet && decoded;
    bool inputEnded = false;

    // Hands every frame the decoder has ready to `take`; false once recording should end.
    auto takeDecoded = [&]() {
        for (;;) {
            const int status = avcodec_receive_frame(pipeline.decoder.get(), decoded.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
            if (status < 0) return false;
            const int count = pipeline.resample(*decoded, settings_);
            av_frame_unref(decoded.get());
            if (!take(pipeline.buffer.data(), count, sampleLimit)) return false;
        }
    };

    while (going && !stopping_) {
        if (pipeline.paced) {
            // Generated sound and files come as fast as they are read; a microphone gives each
            // moment's samples only once the moment has passed.
            const Duration ahead = began + seconds(currentTime()) - clock_.now();
            if (ahead > Duration::zero() && clock_.wait(stopRequested_, ahead)) break;
        }
        const int status = av_read_frame(pipeline.input.get(), packet.get());
        if (status == AVERROR(EAGAIN)) {
            if (clock_.wait(stopRequested_, retryPause)) break;
            continue;
        }
        if (status < 0) {
            inputEnded = !stopping_;
            break;
        }
        if (packet->stream_index == pipeline.streamIndex) {
            going = avcodec_send_packet(pipeline.decoder.get(), packet.get()) >= 0 && takeDecoded();
        }
        av_packet_unref(packet.get());
    }

    // What the decoder and the resampler still hold belongs to the recording too.
    if (inputEnded && avcodec_send_packet(pipeline.decoder.get(), nullptr) >= 0) takeDecoded();
    const int rest = pipeline.convert(nullptr, 0);
    take(pipeline.buffer.data(), rest, sampleLimit);
    pipeline.encode(true);
    pipeline.close();
    recording_ = false;
}

}  // namespace pelko::mic::ffmpeg
