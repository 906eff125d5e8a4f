#pragma once
// HTTPDynamicFileResponse: serves a text template in chunked transfer coding, with every key
// enclosed in a separator (say "%%name%%") replaced by the description of its value. A key
// without a value, or not UTF-8, is sent as it stands with its separators. A key split between
// two reads is still found: the bytes from an opened key on are kept for the next read. No byte
// ranges (the length is not known ahead).

#include <map>

#include "httpserver/core/HTTPAsyncFileResponse.h"
#include "platform/foundation/Value.h"

class HTTPDynamicFileResponse : public HTTPAsyncFileResponse {
  CH_SHARED_OBJECT(HTTPDynamicFileResponse)

 public:
  static std::shared_ptr<HTTPDynamicFileResponse> initWithFilePath(
      const std::optional<std::string>& filePath, std::weak_ptr<HTTPConnection> connection,
      const std::string& separatorStr, platform::Dictionary dictionary);

  std::optional<bool> isChunked() override { return true; }
  std::uint64_t contentLength() override { return 0; }
  void setOffset(std::uint64_t) override {}
  bool isDone() override;

 protected:
  HTTPDynamicFileResponse(std::string filePath, std::weak_ptr<HTTPConnection> connection,
                          std::uint64_t length, std::string separatorStr,
                          platform::Dictionary dictionary);
  void processReadBuffer() override;

  const std::string separator;
  const platform::Dictionary replacementDict;
};
