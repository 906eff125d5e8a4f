#pragma once
// MultipartFormDataParser: a streaming parser of "multipart/form-data" bodies. A connection
// feeds it the body in chunks as they arrive; the delegate hears of the preamble, each part's
// header, the part's content in pieces, the end of each part and the epilogue. The parser keeps
// only what it cannot decide about yet: the last bytes that may begin a boundary, or a part
// header not complete yet (at most `kMaxHeaderLength` bytes of it; a longer one is refused).
// Content is handed over undecoded (binary); bytes handed to the delegate are valid only during
// the call. Used on one thread at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "httpserver/core/MultipartMessageHeader.h"

// Content transfer encodings.
enum ContentTransferEncoding : int {
  contentTransferEncoding_unknown = 0,
  contentTransferEncoding_7bit = 1,
  contentTransferEncoding_8bit = 2,
  contentTransferEncoding_binary = 3,
  contentTransferEncoding_base64 = 4,
  contentTransferEncoding_quotedPrintable = 5,
};

// What the parser tells its owner. Every call is optional.
class MultipartFormDataParserDelegate {
 public:
  virtual ~MultipartFormDataParserDelegate() = default;
  virtual void processPreambleData(std::string_view) {}
  virtual void processStartOfPartWithHeader(const MultipartMessageHeader&) {}
  virtual void processContent(std::string_view, const MultipartMessageHeader&) {}
  virtual void processEndOfPartWithHeader(const MultipartMessageHeader&) {}
  virtual void processEpilogueData(std::string_view) {}
};

class MultipartFormDataParser {
 public:
  // The most bytes a part's header block may take.
  static constexpr std::size_t kMaxHeaderLength = 16 * 1024;

  // A boundary that is not ASCII leaves the parser without one: every `appendData` fails.
  MultipartFormDataParser(const std::string& boundary, unsigned formEncoding);
  // Absent without a boundary.
  static std::optional<MultipartFormDataParser> initWithBoundary(
      const std::optional<std::string>& boundary, unsigned formEncoding);

  void setDelegate(std::weak_ptr<MultipartFormDataParserDelegate> delegate) {
    _delegate = std::move(delegate);
  }
  unsigned formEncoding() const { return _formEncoding; }
  void setFormEncoding(unsigned encoding) { _formEncoding = encoding; }

  // Processes one chunk; false when the body is malformed (the caller stops feeding then).
  bool appendData(std::string_view data);

  static std::string decodedDataFromData(std::string_view data, int encoding);
  static std::string decodedDataFromQuotedPrintableData(std::string_view data);

 private:
  // The position just after the first CR LF at or after `offset`, or -1.
  static long offsetTillNewlineSinceOffset(std::size_t offset, std::string_view data);
  // The position of the first CR LF CR LF at or after `offset`, or -1.
  static long findHeaderEnd(std::string_view data, std::size_t offset);
  // The first position at or after `offset` where the whole boundary matches, or -1.
  long findContentEnd(std::string_view data, std::size_t offset) const;
  long processPreamble(std::string_view data);
  static std::size_t numberOfBytesToLeavePendingWithData(std::string_view data, int encoding);

  std::shared_ptr<MultipartFormDataParserDelegate> delegate() const { return _delegate.lock(); }

  std::weak_ptr<MultipartFormDataParserDelegate> _delegate;
  std::optional<std::string> boundaryData;  // CR LF "--" boundary
  std::string pendingData;
  std::optional<MultipartMessageHeader> currentHeader;
  unsigned _formEncoding;
  int currentEncoding = contentTransferEncoding_binary;
  bool processedPreamble = false;
  bool waitingForCRLF = false;
  bool checkForContentEnd = false;
  bool reachedEpilogue = false;
};
