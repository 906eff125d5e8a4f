#include "httpserver/core/HTTPDynamicFileResponse.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/Utf8.h"

std::shared_ptr<HTTPDynamicFileResponse> HTTPDynamicFileResponse::initWithFilePath(
    const std::optional<std::string>& filePath, std::weak_ptr<HTTPConnection> connection,
    const std::string& separatorStr, platform::Dictionary dictionary) {
  std::uint64_t length = 0;
  if (!fileLengthOfPath(filePath, &length) || separatorStr.empty()) return nullptr;
  return create(*filePath, std::move(connection), length, separatorStr, std::move(dictionary));
}

HTTPDynamicFileResponse::HTTPDynamicFileResponse(std::string filePath,
                                                 std::weak_ptr<HTTPConnection> connection,
                                                 std::uint64_t length, std::string separatorStr,
                                                 platform::Dictionary dictionary)
    : HTTPAsyncFileResponse(std::move(filePath), std::move(connection), length),
      separator(std::move(separatorStr)),
      replacementDict(std::move(dictionary)) {}

bool HTTPDynamicFileResponse::isDone() {
  return readQueue->syncValue(
      [&] { return readOffset == fileLength && readBufferOffset == 0 && !data; });
}

void HTTPDynamicFileResponse::processReadBuffer() {
  const std::size_t s = separator.size();
  std::size_t filled = readBufferOffset;
  // The search stops where the separator no longer fits.
  std::size_t stop = filled > s ? filled - s + 1 : 0;
  constexpr std::size_t kNoKey = static_cast<std::size_t>(-1);
  std::size_t openKey = kNoKey;  // where the opening separator of a key begins

  std::size_t i = 0;
  while (i < stop) {
    if (std::memcmp(readBuffer.data() + i, separator.data(), s) != 0) {
      ++i;
      continue;
    }
    if (openKey == kNoKey) {
      openKey = i;
      i += s;
      continue;
    }
    const std::size_t spanStart = openKey;
    const std::size_t spanEnd = i + s;
    openKey = kNoKey;
    std::string key(reinterpret_cast<const char*>(readBuffer.data()) + spanStart + s,
                    i - spanStart - s);
    auto found = platform::isValidUtf8(key) ? replacementDict.find(key) : replacementDict.end();
    if (found == replacementDict.end()) {
      i = spanEnd;
      continue;
    }
    const std::string value = found->second.stringValue();
    const std::size_t spanLength = spanEnd - spanStart;
    if (value.size() > spanLength) {
      const std::size_t growth = value.size() - spanLength;
      if (readBuffer.size() - filled < growth)
        readBuffer.resize(readBuffer.size() + std::max<std::size_t>(growth, 256));
    }
    // Move the rest of the buffer so the value fits exactly where the span was.
    std::memmove(readBuffer.data() + spanStart + value.size(), readBuffer.data() + spanEnd,
                 filled - spanEnd);
    std::memcpy(readBuffer.data() + spanStart, value.data(), value.size());
    filled = filled + value.size() - spanLength;
    stop = stop + value.size() - spanLength;
    i = spanStart + value.size();
  }

  std::size_t available = filled;
  if (readOffset != fileLength) available = openKey != kNoKey ? openKey : stop;
  data = platform::Bytes(readBuffer.begin(),
                         readBuffer.begin() + static_cast<std::ptrdiff_t>(available));
  std::memmove(readBuffer.data(), readBuffer.data() + available, filled - available);
  readBufferOffset = filled - available;
  notifyConnection(false);
}
