#include "platform/media/MovieFrameDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/media/HLSPlaylist.h"
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
// How long opening the stream (its playlist, the first segments, the stream information) and
// then finding one frame may take, by the shared clock: a server that trickles its answers, or
// a stream that keeps the demuxer busy, is given up on.
constexpr double kOpenSeconds = 20;
constexpr double kFrameSeconds = 20;
// A playlist is read whole before the demuxer sees it; a longer one is no lecture's.
constexpr std::size_t kMaxPlaylistBytes = 1024 * 1024;
// How often the demuxer may read the playlist again (a live playlist reloads) and open any other
// resource, per open of the stream and per frame asked for.
constexpr int kMaxPlaylistReads = 4;
constexpr int kMaxOpens = 64;
// What the stream information may read and hold before a frame is decoded.
constexpr int64_t kProbeBytes = 2 * 1024 * 1024;
constexpr int kMaxStreams = 16;

std::string schemeOf(const std::string& url) {
  std::string scheme = url.substr(0, url.find(':'));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme;
}

bool isRemote(const std::string& url) {
  std::string scheme = schemeOf(url);
  return scheme == "http" || scheme == "https";
}

// What the player itself would fetch for a movie at `movieURL`: from the network only what is on
// the network; from a downloaded copy also its files.
bool playerWouldFetch(const std::string& movieURL, const std::string& url) {
  if (isRemote(url)) return true;
  return !isRemote(movieURL) && schemeOf(url) == "file";
}

// The playlist the player would play: a media playlist (never a master one) naming only what the
// player would fetch.
bool isPlayablePlaylist(const std::string& movieURL, const std::string& text) {
  auto playlist = HLSPlaylist::parse(text);
  if (!playlist) return false;
  for (const auto& segment : playlist->segments()) {
    if (!playerWouldFetch(movieURL, HLSPlaylist::resolve(movieURL, segment.uri))) return false;
  }
  return true;
}

// The playlist as the player plays it: the segments it lists now, and no more. A playlist
// without its end would have the demuxer wait for reloads, for as long as it says.
std::string asPlayed(std::string text) {
  if (text.find("#EXT-X-ENDLIST") == std::string::npos) text += "\n#EXT-X-ENDLIST\n";
  return text;
}

// An AVIO context reading from bytes held in memory: the playlist as it was checked.
struct MemoryFile {
  std::string bytes;
  std::size_t position = 0;

  static int read(void* opaque, uint8_t* buffer, int size) {
    auto* file = static_cast<MemoryFile*>(opaque);
    std::size_t left = file->bytes.size() - file->position;
    if (left == 0) return AVERROR_EOF;
    std::size_t count = std::min(left, static_cast<std::size_t>(size));
    std::memcpy(buffer, file->bytes.data() + file->position, count);
    file->position += count;
    return static_cast<int>(count);
  }
};

constexpr int kMemoryBufferBytes = 4096;

AVIOContext* memoryContext(std::string bytes) {
  auto* buffer = static_cast<unsigned char*>(av_malloc(kMemoryBufferBytes));
  if (!buffer) return nullptr;
  auto* file = new MemoryFile{std::move(bytes)};
  AVIOContext* context =
      avio_alloc_context(buffer, kMemoryBufferBytes, 0, file, &MemoryFile::read, nullptr, nullptr);
  if (!context) {
    av_free(buffer);
    delete file;
  }
  return context;
}

void freeMemoryContext(AVIOContext* context) {
  delete static_cast<MemoryFile*>(context->opaque);
  av_freep(&context->buffer);
  avio_context_free(&context);
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
//
// Every resource the demuxer opens goes through `openResource`: the movie's own playlist is read
// whole and checked with the player's playlist reader first (a master playlist, which the
// demuxer would follow, naming itself, for ever, is refused), then handed over from memory;
// anything else must be what the player would fetch, and opens are counted.
struct MovieFrameDecoder::Stream {
  std::string url;
  std::shared_ptr<dispatch::Queue> queue = dispatch::Queue::serial("movie frames");
  std::atomic<bool> cancelled{false};
  // When the work under way is given up, in the shared clock's monotonic nanoseconds.
  std::atomic<MonoTime::rep> deadline{0};
  std::atomic<unsigned long> newest{0};  // the newest request, read by the worker
  unsigned long latest = 0;
  int outstanding = 0;

  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  int videoIndex = -1;
  bool failed = false;
  // The demuxer's own ways to open and close, beneath `openResource`.
  int (*defaultOpen)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) = nullptr;
  void (*defaultClose)(AVFormatContext*, AVIOContext*) = nullptr;
  std::set<AVIOContext*> checkedPlaylists;  // reloads of the playlist, opened by the demuxer
  AVIOContext* playlist = nullptr;          // the playlist the demuxer starts from
  int playlistReads = 0;
  int opens = 0;

  ~Stream() { close(); }

  static int interrupted(void* opaque) {
    auto* stream = static_cast<Stream*>(opaque);
    if (stream->cancelled.load()) return 1;
    return Clock::shared()->monotonicNow().time_since_epoch().count() > stream->deadline.load();
  }

  void startDeadline(double seconds) {
    deadline = saturatingAdd(Clock::shared()->monotonicNow(), platform::seconds(seconds))
                   .time_since_epoch()
                   .count();
    playlistReads = 0;
    opens = 0;
  }

  static int openResource(AVFormatContext* s, AVIOContext** pb, const char* url, int flags,
                          AVDictionary** options) {
    auto* stream = static_cast<Stream*>(s->opaque);
    if (!url || !playerWouldFetch(stream->url, url) || ++stream->opens > kMaxOpens) {
      return AVERROR(EPERM);
    }
    if (url != stream->url) return stream->defaultOpen(s, pb, url, flags, options);
    if (++stream->playlistReads > kMaxPlaylistReads) return AVERROR(EPERM);
    std::optional<std::string> text = stream->readPlaylist();
    if (!text || !isPlayablePlaylist(stream->url, *text)) return AVERROR_INVALIDDATA;
    *pb = memoryContext(asPlayed(std::move(*text)));
    if (!*pb) return AVERROR(ENOMEM);
    stream->checkedPlaylists.insert(*pb);
    return 0;
  }

  static void closeResource(AVFormatContext* s, AVIOContext* pb) {
    auto* stream = static_cast<Stream*>(s->opaque);
    if (stream->checkedPlaylists.erase(pb)) return freeMemoryContext(pb);
    stream->defaultClose(s, pb);
  }

  // The whole movie playlist; absent when it cannot be read or is longer than a lecture's.
  std::optional<std::string> readPlaylist() {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "rw_timeout", kReadTimeoutMicroseconds, 0);
    av_dict_set(&options, "protocol_whitelist", whitelist(), 0);
    AVIOContext* in = nullptr;
    AVIOInterruptCB interrupt{&Stream::interrupted, this};
    int status = avio_open2(&in, url.c_str(), AVIO_FLAG_READ, &interrupt, &options);
    av_dict_free(&options);
    if (status < 0) return std::nullopt;
    std::string text;
    unsigned char chunk[16384];
    int count = 0;
    while ((count = avio_read(in, chunk, sizeof chunk)) > 0 && text.size() <= kMaxPlaylistBytes) {
      text.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(count));
    }
    bool whole = count == AVERROR_EOF || count == 0;
    avio_closep(&in);
    if (!whole || text.size() > kMaxPlaylistBytes) return std::nullopt;
    return text;
  }

  // What the player would fetch and nothing else: a playlist from the network reads only from
  // the network, never this device's files.
  const char* whitelist() const {
    return isRemote(url) ? "http,https,tcp,tls" : "file,http,https,tcp,tls";
  }

  void close() {
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    if (playlist) freeMemoryContext(playlist);
    playlist = nullptr;
    videoIndex = -1;
  }

  // The movie's playlist, checked, as the demuxer's input.
  bool openPlaylist() {
    if (++playlistReads > kMaxPlaylistReads) return false;
    std::optional<std::string> text = readPlaylist();
    if (!text || !isPlayablePlaylist(url, *text)) return false;
    playlist = memoryContext(asPlayed(std::move(*text)));
    if (!playlist) return false;
    format->pb = playlist;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    return true;
  }

  bool open() {
    format = avformat_alloc_context();
    if (!format) return false;
    format->interrupt_callback = {&Stream::interrupted, this};
    format->opaque = this;
    defaultOpen = format->io_open;
    defaultClose = format->io_close;
    format->io_open = &Stream::openResource;
    format->io_close = &Stream::closeResource;
    format->probesize = kProbeBytes;
    format->max_streams = kMaxStreams;
    if (!openPlaylist()) {
      avformat_free_context(format);
      format = nullptr;
      return false;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "rw_timeout", kReadTimeoutMicroseconds, 0);
    av_dict_set(&options, "protocol_whitelist", whitelist(), 0);
    av_dict_set(&options, "max_reload", "3", 0);
    av_dict_set(&options, "m3u8_hold_counters", "3", 0);
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
    startDeadline(kOpenSeconds);
    if (!format && !open()) {
      failed = true;
      close();
      return nullptr;
    }
    startDeadline(kFrameSeconds);
    int64_t target = timestampOf(std::max(0.0, seconds));
    if (!seekTo(target)) {
      failed = true;
      close();
      return nullptr;
    }
    FramePtr best;
    PacketPtr packet(av_packet_alloc());
    bool done = false;
    for (int read = 0; !done && read < kMaxPackets && !interrupted(this); ++read) {
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
