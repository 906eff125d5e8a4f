#include "platform/media/MovieFrameDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cairo.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <mutex>
#include <utility>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/Image.h"

namespace platform {

namespace {

// Frames larger than this on a side are not drawn: a hostile stream must not make the worker
// allocate without bound.
constexpr int kMaxSide = 4096;
// Packets read for one frame before giving up: a stream whose timestamps never reach the wanted
// time must not keep the worker busy for ever.
constexpr int kMaxPackets = 20000;
// How long one network read may wait before the stream counts as undecodable.
constexpr const char* kReadTimeoutMicroseconds = "10000000";

bool isRemote(const std::string& url) {
  std::string scheme = url.substr(0, url.find(':'));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme == "http" || scheme == "https";
}

void quietLibraries() {
  static std::once_flag once;
  // FFmpeg writes its complaints about damaged streams to stderr; a stream that cannot be
  // decoded is answered with no frame instead.
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

// The frame as a picture (cairo's native 32-bit layout, opaque); null when it cannot be.
std::shared_ptr<Image> pictureOf(const AVFrame& frame) {
  if (frame.width <= 0 || frame.height <= 0 || frame.width > kMaxSide || frame.height > kMaxSide) {
    return nullptr;
  }
  SwsContext* scaler = sws_getContext(
      frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
      frame.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!scaler) return nullptr;
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, frame.width, frame.height);
  cairo_surface_flush(surface);
  uint8_t* planes[4] = {cairo_image_surface_get_data(surface), nullptr, nullptr, nullptr};
  int strides[4] = {cairo_image_surface_get_stride(surface), 0, 0, 0};
  sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, planes, strides);
  sws_freeContext(scaler);
  cairo_surface_mark_dirty(surface);
  return std::make_shared<Image>("movie frame", surface, 1);
}

}  // namespace

// The open stream and what the worker needs of it. Its FFmpeg objects are used only by work on
// `queue`, one item at a time; `cancelled` is set on the main thread and read by FFmpeg's
// interrupt check on the worker; `latest` and `outstanding` belong to the main thread.
struct MovieFrameDecoder::Stream {
  std::string url;
  std::shared_ptr<dispatch::Queue> queue = dispatch::Queue::serial("movie frames");
  std::atomic<bool> cancelled{false};
  std::atomic<unsigned long> newest{0};  // the newest request, read by the worker
  unsigned long latest = 0;
  int outstanding = 0;

  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  int videoIndex = -1;
  bool failed = false;

  ~Stream() { close(); }

  static int interrupted(void* opaque) {
    return static_cast<Stream*>(opaque)->cancelled.load() ? 1 : 0;
  }

  void close() {
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    videoIndex = -1;
  }

  bool open() {
    format = avformat_alloc_context();
    if (!format) return false;
    format->interrupt_callback = {&Stream::interrupted, this};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "rw_timeout", kReadTimeoutMicroseconds, 0);
    // A playlist from the network reads only from the network, never this device's files.
    av_dict_set(&options, "protocol_whitelist",
                isRemote(url) ? "http,https,tcp,tls,crypto" : "file,crypto", 0);
    int status = avformat_open_input(&format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (status < 0) return false;  // the context is freed on failure
    if (avformat_find_stream_info(format, nullptr) < 0) return false;
    videoIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoIndex < 0) return false;
    const AVCodecParameters* parameters = format->streams[videoIndex]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder) return false;
    codec = avcodec_alloc_context3(decoder);
    if (!codec || avcodec_parameters_to_context(codec, parameters) < 0) return false;
    codec->thread_count = 1;
    return avcodec_open2(codec, decoder, nullptr) >= 0;
  }

  // The stream's timestamp of `seconds` from the movie's start.
  int64_t timestampOf(double seconds) const {
    const AVStream* video = format->streams[videoIndex];
    int64_t start = video->start_time != AV_NOPTS_VALUE ? video->start_time : 0;
    return start + av_rescale_q(static_cast<int64_t>(std::llround(seconds * AV_TIME_BASE)),
                                AV_TIME_BASE_Q, video->time_base);
  }

  // Goes back to the key frame at or before `target`; reopens and reads from the start where
  // the stream cannot seek.
  bool seekTo(int64_t target) {
    if (av_seek_frame(format, videoIndex, target, AVSEEK_FLAG_BACKWARD) >= 0) {
      avcodec_flush_buffers(codec);
      return true;
    }
    close();
    return open();
  }

  // Takes the decoded frames: `best` ends as the last one at or before `target`, or the first
  // one after it when none is. True once a frame after `target` showed up.
  bool takeFrames(int64_t target, FramePtr& best) {
    FramePtr frame(av_frame_alloc());
    while (avcodec_receive_frame(codec, frame.get()) == 0) {
      int64_t pts = frame->best_effort_timestamp;
      bool after = pts != AV_NOPTS_VALUE && pts > target;
      if (!after || !best) best = std::exchange(frame, FramePtr(av_frame_alloc()));
      if (after) return true;
      av_frame_unref(frame.get());
    }
    return false;
  }

  std::shared_ptr<Image> frameAt(double seconds) {
    if (failed) return nullptr;
    if (!format && !open()) {
      failed = true;
      close();
      return nullptr;
    }
    int64_t target = timestampOf(std::max(0.0, seconds));
    if (!seekTo(target)) {
      failed = true;
      close();
      return nullptr;
    }
    FramePtr best;
    PacketPtr packet(av_packet_alloc());
    bool done = false;
    for (int read = 0; !done && read < kMaxPackets && !cancelled; ++read) {
      if (av_read_frame(format, packet.get()) < 0) break;
      if (packet->stream_index == videoIndex && avcodec_send_packet(codec, packet.get()) >= 0) {
        done = takeFrames(target, best);
      }
      av_packet_unref(packet.get());
    }
    if (!done && !cancelled && avcodec_send_packet(codec, nullptr) >= 0) {
      takeFrames(target, best);  // the frames the decoder still holds at the stream's end
    }
    return best && !cancelled ? pictureOf(*best) : nullptr;
  }
};

MovieFrameDecoder::MovieFrameDecoder(std::string url) : stream_(std::make_shared<Stream>()) {
  assertMainThread("MovieFrameDecoder::create");
  quietLibraries();
  stream_->url = std::move(url);
}

MovieFrameDecoder::~MovieFrameDecoder() {
  // The queued work keeps the stream alive; it finds the flag and lets go quickly.
  stream_->cancelled = true;
}

bool MovieFrameDecoder::isDecoding() const { return stream_->outstanding > 0; }

void MovieFrameDecoder::requestFrame(double seconds, Completion completion) {
  assertMainThread("MovieFrameDecoder::requestFrame");
  unsigned long request = ++stream_->latest;
  stream_->newest = request;
  ++stream_->outstanding;
  auto stream = stream_;
  stream->queue->async([stream, request, seconds, completion = std::move(completion)] {
    std::shared_ptr<Image> frame;
    bool superseded = stream->newest.load() != request || stream->cancelled;
    if (!superseded) frame = stream->frameAt(seconds);
    RunLoop::main()->perform([stream, request, frame, completion] {
      --stream->outstanding;
      if (stream->cancelled || request != stream->latest) return;
      completion(frame);
    });
  });
}

}  // namespace platform
