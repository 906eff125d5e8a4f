#include "analytics/AnalyticsDeflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "platform/foundation/SystemLog.h"

namespace {

constexpr std::size_t kWindow = 1024;
// The output buffer grows as needed; this only bounds what is reserved up front.
constexpr std::size_t kMaxReserve = 1 << 20;

void log(const char* format, ...) __attribute__((format(printf, 1, 2)));

void log(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  platform::SystemLog::write(text);
}

// zlib counts in 32-bit units: hand it a long input in pieces.
void feed(z_stream& stream, const std::uint8_t*& next, std::size_t& remaining) {
  if (stream.avail_in != 0 || remaining == 0) return;
  uInt piece = static_cast<uInt>(std::min<std::size_t>(remaining, UINT32_MAX));
  stream.next_in = const_cast<Bytef*>(next);
  stream.avail_in = piece;
  next += piece;
  remaining -= piece;
}

}  // namespace

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByCompressingBytes(const void* bytes,
                                                                           std::size_t length,
                                                                           int compressionLevel,
                                                                           int mode) {
  if (!bytes || length == 0) return std::nullopt;
  int level = compressionLevel == -1 ? Z_DEFAULT_COMPRESSION : std::clamp(compressionLevel, 1, 9);
  int windowBits = mode == kGzip ? 31 : mode == kRawDeflate ? -15 : 15;
  z_stream stream{};
  int status = deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) {
    log("Failed to init for deflate w/ level %d, error %d", level, status);
    return std::nullopt;
  }
  platform::Bytes out;
  out.reserve(std::min(length / 4, kMaxReserve));
  const auto* next = static_cast<const std::uint8_t*>(bytes);
  std::size_t remaining = length;
  std::uint8_t window[kWindow];
  do {
    feed(stream, next, remaining);
    stream.next_out = window;
    stream.avail_out = kWindow;
    status = deflate(&stream, remaining == 0 ? Z_FINISH : Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      log("Error trying to deflate some of the payload, error %d", status);
      deflateEnd(&stream);
      return std::nullopt;
    }
    out.insert(out.end(), window, window + (kWindow - stream.avail_out));
  } while (status != Z_STREAM_END);
  deflateEnd(&stream);
  return out;
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByInflatingBytes(const void* bytes,
                                                                         std::size_t length,
                                                                         bool isRawData) {
  if (!bytes || length == 0) return std::nullopt;
  z_stream stream{};
  int status = inflateInit2(&stream, isRawData ? -15 : 47);
  if (status != Z_OK) {
    log("Failed to init for inflate, error %d", status);
    return std::nullopt;
  }
  platform::Bytes out;
  out.reserve(std::min(length, kMaxReserve / 4) * 4);
  const auto* next = static_cast<const std::uint8_t*>(bytes);
  std::size_t remaining = length;
  std::uint8_t window[kWindow];
  do {
    feed(stream, next, remaining);
    stream.next_out = window;
    stream.avail_out = kWindow;
    status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) {
      log("Error trying to inflate some of the payload, error %d: %s", status,
          stream.msg ? stream.msg : "(null)");
      inflateEnd(&stream);
      return std::nullopt;
    }
    out.insert(out.end(), window, window + (kWindow - stream.avail_out));
  } while (status == Z_OK);
  std::size_t left = stream.avail_in + remaining;
  inflateEnd(&stream);
  if (left > 0) {
    log("tfinished inflate w/o using all input, %u bytes left", static_cast<unsigned>(left));
    return std::nullopt;
  }
  return out;
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByGzippingBytes(const void* bytes,
                                                                        std::size_t length,
                                                                        int compressionLevel) {
  return an_dataByCompressingBytes(bytes, length, compressionLevel, kGzip);
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByGzippingData(const platform::Bytes& data,
                                                                       int compressionLevel) {
  return an_dataByGzippingBytes(data.data(), data.size(), compressionLevel);
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByDeflatingBytes(const void* bytes,
                                                                         std::size_t length,
                                                                         int compressionLevel) {
  return an_dataByCompressingBytes(bytes, length, compressionLevel, kZlib);
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByDeflatingData(const platform::Bytes& data,
                                                                        int compressionLevel) {
  return an_dataByDeflatingBytes(data.data(), data.size(), compressionLevel);
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByRawDeflatingBytes(const void* bytes,
                                                                            std::size_t length,
                                                                            int compressionLevel) {
  return an_dataByCompressingBytes(bytes, length, compressionLevel, kRawDeflate);
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByRawDeflatingData(
    const platform::Bytes& data, int compressionLevel) {
  return an_dataByRawDeflatingBytes(data.data(), data.size(), compressionLevel);
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByInflatingBytes(const void* bytes,
                                                                         std::size_t length) {
  return an_dataByInflatingBytes(bytes, length, false);
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByInflatingData(
    const platform::Bytes& data) {
  return an_dataByInflatingBytes(data.data(), data.size());
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByRawInflatingBytes(const void* bytes,
                                                                            std::size_t length) {
  return an_dataByInflatingBytes(bytes, length, true);
}

std::optional<platform::Bytes> AnalyticsDeflate::an_dataByRawInflatingData(
    const platform::Bytes& data) {
  return an_dataByRawInflatingBytes(data.data(), data.size());
}
