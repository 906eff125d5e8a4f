#pragma once
// AnalyticsDeflate: compresses bytes into a zlib, gzip or raw deflate stream and expands such
// streams again, over zlib. The hit wire form gzips or deflates a POST body when the
// dispatcher's compression strategy asks for it.
//
// Every failure (no input, a stream zlib refuses, input left over after the end of a stream)
// answers absent after one system-log line; nothing throws. Levels run 1 to 9 (below is taken as
// 1, above as 9); -1 is zlib's default level.

#include <cstddef>
#include <optional>

#include "platform/foundation/Value.h"

class AnalyticsDeflate {
 public:
  AnalyticsDeflate() = delete;

  enum Mode { kZlib = 0, kGzip = 1, kRawDeflate = 2 };

  // The workers.
  static std::optional<platform::Bytes> an_dataByCompressingBytes(const void* bytes,
                                                                  std::size_t length,
                                                                  int compressionLevel, int mode);
  // A zlib or gzip stream (told apart by its header), or a raw deflate stream when `isRawData`.
  static std::optional<platform::Bytes> an_dataByInflatingBytes(const void* bytes,
                                                                std::size_t length, bool isRawData);

  static std::optional<platform::Bytes> an_dataByGzippingBytes(const void* bytes,
                                                               std::size_t length,
                                                               int compressionLevel = -1);
  static std::optional<platform::Bytes> an_dataByGzippingData(const platform::Bytes& data,
                                                              int compressionLevel = -1);
  static std::optional<platform::Bytes> an_dataByDeflatingBytes(const void* bytes,
                                                                std::size_t length,
                                                                int compressionLevel = -1);
  static std::optional<platform::Bytes> an_dataByDeflatingData(const platform::Bytes& data,
                                                               int compressionLevel = -1);
  static std::optional<platform::Bytes> an_dataByRawDeflatingBytes(const void* bytes,
                                                                   std::size_t length,
                                                                   int compressionLevel = -1);
  static std::optional<platform::Bytes> an_dataByRawDeflatingData(const platform::Bytes& data,
                                                                  int compressionLevel = -1);
  static std::optional<platform::Bytes> an_dataByInflatingBytes(const void* bytes,
                                                                std::size_t length);
  static std::optional<platform::Bytes> an_dataByInflatingData(const platform::Bytes& data);
  static std::optional<platform::Bytes> an_dataByRawInflatingBytes(const void* bytes,
                                                                   std::size_t length);
  static std::optional<platform::Bytes> an_dataByRawInflatingData(const platform::Bytes& data);
};
