#pragma once
// What a caller may ask of an image request (a bit mask).

namespace WebImageOptions {
enum : unsigned {
  // Ask again for a URL whose bytes did not decode before (and do not remember a new failure).
  kRetryFailed = 1,
  kLowPriority = 2,
  // Keep the picture in memory only; nothing is written to the disk folder.
  kCacheMemoryOnly = 4,
  // Deliver partial pictures while the bytes arrive.
  kProgressiveDownload = 8,
};
}  // namespace WebImageOptions
