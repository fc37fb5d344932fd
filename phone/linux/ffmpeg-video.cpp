#include "ffmpeg-video.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "ffmpeg-support.h"

extern "C" {
#include <libavutil/display.h>
}

namespace pelko::phone::linux_backend {

namespace {

/// An instant as a presentation time of the video stream, with the cells that show it.
struct Target {
    std::int64_t pts = 0;
    std::vector<std::size_t> indices;
};

/// Targets that one reader takes in a single forward pass from one key frame: each target's
/// key frame lies at or before the previous target, so seeking again would only repeat work.
struct Run {
    std::size_t first = 0;
    std::size_t count = 0;
};

int firstVideoStream(const AVFormatContext* input) {
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

InputContext openInput(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return {};
    return InputContext(raw);
}

/// The stream's display matrix as an affine transform; the identity when it has none.
AffineTransform displayTransform(const AVStream* stream) {
    size_t size = 0;
    const auto* matrix = reinterpret_cast<const std::int32_t*>(
        av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size));
    if (!matrix || size < 9 * sizeof(std::int32_t)) return {};
    // The matrix is stored row by row as [a b u; c d v; tx ty w], a to ty in 16.16 fixed point.
    auto fixed = [](std::int32_t value) { return static_cast<double>(value) / 65536.0; };
    return {fixed(matrix[0]), fixed(matrix[1]), fixed(matrix[3]),
            fixed(matrix[4]), fixed(matrix[6]), fixed(matrix[7])};
}

/// The presentation time of a packet or frame, from its decoding time when it has none.
std::int64_t presentationTime(std::int64_t pts, std::int64_t dts) {
    return pts != AV_NOPTS_VALUE ? pts : dts;
}

/// Takes pictures from one reader with one decoder. Not shared between threads.
class PictureTaker {
  public:
    using Deliver = std::function<void(const Target&, const VideoPicture*)>;

    PictureTaker(AVFormatContext* input, int stream, const AVCodecParameters* parameters,
                 int decoderThreads, QuarterTurn turn, int width, int height)
        : input_(input),
          stream_(stream),
          decoder_(openDecoder(parameters, input->streams[stream]->time_base, decoderThreads)),
          packet_(av_packet_alloc()),
          frame_(av_frame_alloc()),
          turn_(turn),
          width_(width),
          height_(height) {
        const AVStream* s = input->streams[stream];
        streamStart_ = s->start_time != AV_NOPTS_VALUE ? s->start_time : INT64_MIN;
        picture_.width = width;
        picture_.height = height;
        picture_.bytesPerRow = width * 4;
        picture_.bgra.resize(static_cast<std::size_t>(width) * height * 4);
        if (turn_ != QuarterTurn{}) {
            const int storedWidth = turn_.swapsSides() ? height : width;
            const int storedHeight = turn_.swapsSides() ? width : height;
            stored_.resize(static_cast<std::size_t>(storedWidth) * storedHeight * 4);
        }
    }

    bool ready() const { return decoder_ && packet_ && frame_; }

    /// Takes the pictures of `targets` (ascending) in one pass from the key frame at or before
    /// the first, handing each to `deliver`.
    void takeRun(std::span<const Target> targets, const Deliver& deliver) {
        if (!ready() || !seekBefore(targets.front().pts)) {
            for (const Target& target : targets) deliver(target, nullptr);
            return;
        }
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const AVFrame* shown = find(targets[i].pts, targets.subspan(i));
            deliver(targets[i], shown && convert(shown) ? &picture_ : nullptr);
        }
    }

  private:
    /// A decoded picture and the span of time it shows.
    struct Decoded {
        FramePtr frame;
        std::int64_t pts = 0;
        std::int64_t duration = 0;
    };

    /// Packets past the target after which a decoder that has not shown it is given up on; far
    /// more than any decoder holds back for reordering and threads.
    static constexpr int packetsPastTargetLimit = 64;
    /// Seeks that step back one more key frame when the one found shows after the target.
    static constexpr int seekAttempts = 8;

    /// Goes to the key frame at or before `target`, and forgets what was decoded before.
    bool seekBefore(std::int64_t target) {
        candidate_.reset();
        pending_.reset();
        seen_.clear();
        queued_ = false;
        ended_ = false;
        std::int64_t ts = target;
        std::int64_t found = target;  // the last time whose seek worked
        for (int attempt = 0;; ++attempt) {
            if (av_seek_frame(input_, stream_, ts, AVSEEK_FLAG_BACKWARD) < 0) {
                // Stepping back failed: the key frame found before will have to do.
                if (attempt == 0 ||
                    av_seek_frame(input_, stream_, found, AVSEEK_FLAG_BACKWARD) < 0) {
                    return false;
                }
                avcodec_flush_buffers(decoder_.get());
                queued_ = readPacket();
                return true;
            }
            found = ts;
            avcodec_flush_buffers(decoder_.get());
            // An index of decoding times (as MP4 keeps) can name a key frame whose
            // presentation comes after the target; then step back before it.
            if (!readPacket()) return true;
            queued_ = true;
            const std::int64_t keyTime = presentationTime(packet_->pts, packet_->dts);
            if (keyTime == AV_NOPTS_VALUE || keyTime <= target || ts <= streamStart_ ||
                attempt + 1 == seekAttempts) {
                return true;
            }
            const std::int64_t before =
                (packet_->dts != AV_NOPTS_VALUE ? std::min(packet_->dts, keyTime) : keyTime) - 1;
            if (before >= ts) return true;
            ts = before;
            av_packet_unref(packet_.get());
            queued_ = false;
        }
    }

    /// The next packet of the video stream into `packet_`; false at the end of the file.
    bool readPacket() {
        for (;;) {
            if (av_read_frame(input_, packet_.get()) < 0) return false;
            if (packet_->stream_index == stream_) return true;
            av_packet_unref(packet_.get());
        }
    }

    /// Whether the decoder may drop the packet at `pts` if nothing refers to it: no remaining
    /// target shows it, because it comes after all of them or because a packet already read
    /// shows later but still at or before the first target not before it.
    bool unneeded(std::int64_t pts, std::span<const Target> remaining) const {
        if (pts == AV_NOPTS_VALUE) return false;
        auto target =
            std::lower_bound(remaining.begin(), remaining.end(), pts,
                             [](const Target& t, std::int64_t value) { return t.pts < value; });
        if (target == remaining.end()) return true;
        auto later = seen_.upper_bound(pts);
        return later != seen_.end() && *later <= target->pts;
    }

    /// Sends the next packet to the decoder, or the end of the stream; false when there is
    /// nothing left to send. Counts packets that show after `target`.
    bool sendNext(std::int64_t target, std::span<const Target> remaining, int& pastTarget) {
        if (ended_) return false;
        if (!queued_ && !readPacket()) {
            ended_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
            return true;
        }
        queued_ = false;
        const std::int64_t pts = presentationTime(packet_->pts, packet_->dts);
        if (pts != AV_NOPTS_VALUE) seen_.insert(pts);
        // Pictures that no remaining cell shows and no other picture refers to are not decoded
        // at all (a reference picture is always decoded: later pictures are made from it).
        decoder_->skip_frame = unneeded(pts, remaining) ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        // A packet the decoder rejects is passed over, as a player would.
        avcodec_send_packet(decoder_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (pts != AV_NOPTS_VALUE && pts > target) ++pastTarget;
        return true;
    }

    static bool covers(const Decoded& decoded, std::int64_t target) {
        return decoded.pts <= target && decoded.duration > 0 &&
               decoded.pts + decoded.duration > target;
    }

    /// Takes in one decoded picture while looking for `target`; the picture that shows at the
    /// target when it is now known, else null.
    const AVFrame* arrive(Decoded decoded, std::int64_t target) {
        if (decoded.pts <= target) {
            candidate_ = std::move(decoded);
            return covers(*candidate_, target) ? candidate_->frame.get() : nullptr;
        }
        // The first picture after the target: the one before it shows at the target, or, for
        // a target before the first picture, this one. Kept for the next target either way.
        pending_ = std::move(decoded);
        return candidate_ ? candidate_->frame.get() : pending_->frame.get();
    }

    /// The decoded picture that shows at `target`; null when there is none. Targets come in
    /// ascending order; `remaining` starts with this one.
    const AVFrame* find(std::int64_t target, std::span<const Target> remaining) {
        if (pending_) {
            Decoded next = std::move(*pending_);
            pending_.reset();
            if (const AVFrame* shown = arrive(std::move(next), target)) return shown;
        } else if (candidate_ && covers(*candidate_, target)) {
            return candidate_->frame.get();
        }
        int pastTarget = 0;
        for (;;) {
            const int received = avcodec_receive_frame(decoder_.get(), frame_.get());
            if (received == 0) {
                Decoded decoded{FramePtr(av_frame_alloc()), frame_->best_effort_timestamp,
                                frame_->pkt_duration};
                if (!decoded.frame) return nullptr;
                av_frame_move_ref(decoded.frame.get(), frame_.get());
                if (decoded.pts == AV_NOPTS_VALUE) continue;
                if (const AVFrame* shown = arrive(std::move(decoded), target)) return shown;
            } else if (received == AVERROR(EAGAIN) && pastTarget <= packetsPastTargetLimit &&
                       sendNext(target, remaining, pastTarget)) {
                continue;
            } else {
                // The end of the stream, a failed decoder, or one that shows nothing: the
                // last picture at or before the target, if any, is the one shown.
                return candidate_ ? candidate_->frame.get() : nullptr;
            }
        }
    }

    /// Scales (and turns) `frame` into `picture_`.
    bool convert(const AVFrame* frame) {
        if (turn_ == QuarterTurn{}) {
            return scaler_.convert(frame, width_, height_, AV_PIX_FMT_BGRA, picture_.bgra.data(),
                                   picture_.bytesPerRow);
        }
        const int storedWidth = turn_.swapsSides() ? height_ : width_;
        const int storedHeight = turn_.swapsSides() ? width_ : height_;
        if (!scaler_.convert(frame, storedWidth, storedHeight, AV_PIX_FMT_BGRA, stored_.data(),
                             storedWidth * 4)) {
            return false;
        }
        turnPixels(stored_.data(), storedWidth, storedHeight, storedWidth * 4, turn_,
                   picture_.bgra.data(), picture_.bytesPerRow);
        return true;
    }

    AVFormatContext* input_;
    int stream_;
    std::int64_t streamStart_ = INT64_MIN;
    CodecContext decoder_;
    PacketPtr packet_;
    FramePtr frame_;
    QuarterTurn turn_;
    int width_;
    int height_;
    Scaler scaler_;
    std::vector<std::uint8_t> stored_;  // the scaled picture before its turn
    VideoPicture picture_;

    bool queued_ = false;               // packet_ holds a packet read but not yet sent
    bool ended_ = false;                // the end of the stream has been sent to the decoder
    std::set<std::int64_t> seen_;       // presentation times of the packets read since the seek
    std::optional<Decoded> candidate_;  // the latest picture at or before the last target
    std::optional<Decoded> pending_;    // a picture after the last target, not yet used
};

class FFmpegVideoAsset final : public VideoAsset {
  public:
    FFmpegVideoAsset(std::string path, unsigned threads)
        : path_(std::move(path)), threads_(threads) {}

    std::optional<double> loadDuration() override {
        AVFormatContext* in = input();
        if (!in) return {};
        if (in->duration != AV_NOPTS_VALUE) {
            return static_cast<double>(in->duration) / AV_TIME_BASE;
        }
        std::optional<double> longest;
        for (unsigned i = 0; i < in->nb_streams; ++i) {
            const AVStream* stream = in->streams[i];
            if (stream->duration == AV_NOPTS_VALUE) continue;
            const double seconds =
                static_cast<double>(stream->duration) * av_q2d(stream->time_base);
            longest = std::max(longest.value_or(seconds), seconds);
        }
        return longest;
    }

    std::optional<std::size_t> loadVideoTrackCount() override {
        AVFormatContext* in = input();
        if (!in) return {};
        std::size_t count = 0;
        for (unsigned i = 0; i < in->nb_streams; ++i) {
            const AVStream* stream = in->streams[i];
            if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                ++count;
            }
        }
        return count;
    }

    std::optional<VideoTrackGeometry> loadFirstTrackGeometry() override {
        AVFormatContext* in = input();
        if (!in) return {};
        const int index = firstVideoStream(in);
        if (index < 0) return {};
        AVStream* stream = in->streams[index];
        // Pixels that are not square are shown at their aspect: the width carries it.
        double width = stream->codecpar->width;
        const AVRational aspect = av_guess_sample_aspect_ratio(in, stream, nullptr);
        if (aspect.num > 0 && aspect.den > 0) width *= av_q2d(aspect);
        return VideoTrackGeometry{{width, static_cast<double>(stream->codecpar->height)},
                                  displayTransform(stream)};
    }

    void copyPictures(std::span<const double> instants, int width, int height,
                      const PictureHandler& handler) override {
        std::mutex handing;
        auto deliver = [&](const Target& target, const VideoPicture* picture) {
            std::lock_guard guard(handing);
            for (std::size_t index : target.indices) handler(index, picture);
        };

        AVFormatContext* in = input();
        const int index = in ? firstVideoStream(in) : -1;
        const std::vector<Target> targets =
            index >= 0 ? targetsOf(instants, in->streams[index]) : allAtZero(instants);
        if (index < 0 || width <= 0 || height <= 0) {
            for (const Target& target : targets) deliver(target, nullptr);
            return;
        }
        AVStream* stream = in->streams[index];
        // The readers' decoders are made from a copy: the first reader's input may update its
        // stream's parameters while it reads.
        std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters*)> parameters(
            avcodec_parameters_alloc(), [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
        if (!parameters || avcodec_parameters_copy(parameters.get(), stream->codecpar) < 0) {
            for (const Target& target : targets) deliver(target, nullptr);
            return;
        }
        const QuarterTurn turn = quarterTurnOf(displayTransform(stream));
        const std::vector<Run> runs = runsOf(targets, stream);

        const unsigned processors = std::max(1u, threads_);
        const unsigned readers = std::min<unsigned>(processors, static_cast<unsigned>(runs.size()));
        const int decoderThreads = static_cast<int>(std::max(1u, processors / readers));
        std::atomic<std::size_t> nextRun{0};
        auto work = [&](PictureTaker& taker) {
            for (std::size_t r; (r = nextRun.fetch_add(1)) < runs.size();) {
                taker.takeRun(std::span(targets).subspan(runs[r].first, runs[r].count), deliver);
            }
        };

        // The other readers open the file again and share the runs; one that cannot open it
        // leaves its share to the rest. The first reader uses the asset's own input.
        std::vector<std::thread> helpers;
        for (unsigned i = 1; i < readers; ++i) {
            helpers.emplace_back([&] {
                InputContext own = openInput(path_);
                if (!own || static_cast<int>(own->nb_streams) <= index) return;
                PictureTaker taker(own.get(), index, parameters.get(), decoderThreads, turn, width,
                                   height);
                if (taker.ready()) work(taker);
            });
        }
        PictureTaker taker(in, index, parameters.get(), decoderThreads, turn, width, height);
        work(taker);
        for (std::thread& helper : helpers) helper.join();
    }

  private:
    /// The opened file with its streams examined; null when it cannot be opened.
    AVFormatContext* input() {
        if (!opened_) {
            opened_ = true;
            InputContext in = openInput(path_);
            if (in && avformat_find_stream_info(in.get(), nullptr) >= 0) input_ = std::move(in);
        }
        return input_.get();
    }

    /// Each distinct instant as a presentation time of `stream` (counted from the start of the
    /// file), ascending, with the cells that show it.
    std::vector<Target> targetsOf(std::span<const double> instants, const AVStream* stream) {
        const std::int64_t start =
            input_->start_time != AV_NOPTS_VALUE
                ? av_rescale_q(input_->start_time, AV_TIME_BASE_Q, stream->time_base)
                : 0;
        const double tick = av_q2d(stream->time_base);
        std::map<std::int64_t, std::vector<std::size_t>> byTime;
        for (std::size_t i = 0; i < instants.size(); ++i) {
            // The picture at a time shows from that time on; the small allowance keeps an
            // instant that falls exactly on a picture from landing one tick before it.
            const double ticks = std::floor(instants[i] / tick + 1e-6);
            const double clamped = std::clamp(ticks, -9e18, 9e18);
            byTime[static_cast<std::int64_t>(clamped) + start].push_back(i);
        }
        std::vector<Target> targets;
        for (auto& [pts, indices] : byTime) targets.push_back({pts, std::move(indices)});
        return targets;
    }

    static std::vector<Target> allAtZero(std::span<const double> instants) {
        Target target;
        for (std::size_t i = 0; i < instants.size(); ++i) target.indices.push_back(i);
        return {target};
    }

    /// The targets grouped into runs by the key frames of the file's index (each target alone
    /// when the file has no index).
    static std::vector<Run> runsOf(const std::vector<Target>& targets, AVStream* stream) {
        std::vector<Run> runs;
        const bool indexed = avformat_index_get_entries_count(stream) > 0;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            bool joins = false;
            if (indexed && !runs.empty()) {
                const int key =
                    av_index_search_timestamp(stream, targets[i].pts, AVSEEK_FLAG_BACKWARD);
                const AVIndexEntry* entry =
                    key >= 0 ? avformat_index_get_entry(stream, key) : nullptr;
                joins = !entry || entry->timestamp <= targets[i - 1].pts;
            }
            if (joins) {
                ++runs.back().count;
            } else {
                runs.push_back({i, 1});
            }
        }
        return runs;
    }

    std::string path_;
    unsigned threads_;
    bool opened_ = false;
    InputContext input_;
};

}  // namespace

QuarterTurn quarterTurnOf(const AffineTransform& transform) {
    const double scale =
        std::sqrt(std::fabs(transform.a * transform.d - transform.b * transform.c));
    if (!(scale > 0) || !std::isfinite(scale)) return {};
    auto snap = [&](double value) { return static_cast<int>(std::lround(value / scale)); };
    const QuarterTurn turn{snap(transform.a), snap(transform.b), snap(transform.c),
                           snap(transform.d)};
    const bool oneAxisEach = std::abs(turn.a) + std::abs(turn.b) == 1 &&
                             std::abs(turn.c) + std::abs(turn.d) == 1 &&
                             std::abs(turn.a * turn.d - turn.b * turn.c) == 1;
    return oneAxisEach ? turn : QuarterTurn{};
}

void turnPixels(const std::uint8_t* source, int width, int height, int sourceStride,
                QuarterTurn turn, std::uint8_t* into, int intoStride) {
    // Each pixel's new place: (a x + c y, b x + d y), shifted so that the smallest is 0.
    const int offsetX = (turn.a < 0 ? width - 1 : 0) + (turn.c < 0 ? height - 1 : 0);
    const int offsetY = (turn.b < 0 ? width - 1 : 0) + (turn.d < 0 ? height - 1 : 0);
    for (int y = 0; y < height; ++y) {
        const auto* row =
            reinterpret_cast<const std::uint32_t*>(source + std::size_t(y) * sourceStride);
        for (int x = 0; x < width; ++x) {
            const int toX = turn.a * x + turn.c * y + offsetX;
            const int toY = turn.b * x + turn.d * y + offsetY;
            std::memcpy(into + std::size_t(toY) * intoStride + std::size_t(toX) * 4, row + x, 4);
        }
    }
}

FFmpegVideoFiles::FFmpegVideoFiles(unsigned threads)
    : threads_(threads ? threads : std::max(1u, std::thread::hardware_concurrency())) {}

std::unique_ptr<VideoAsset> FFmpegVideoFiles::openAsset(const std::string& path) {
    return std::make_unique<FFmpegVideoAsset>(path, threads_);
}

}  // namespace pelko::phone::linux_backend
