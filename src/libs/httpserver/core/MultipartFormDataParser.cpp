#include "httpserver/core/MultipartFormDataParser.h"

#include "httpserver/core/HTData.h"
#include "httpserver/core/HTTPLogging.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

MultipartFormDataParser::MultipartFormDataParser(const std::string& boundary, unsigned formEncoding)
    : _formEncoding(formEncoding) {
  if (decodeMultipartText(boundary, kMultipartASCIIEncoding)) boundaryData = "\r\n--" + boundary;
}

std::optional<MultipartFormDataParser> MultipartFormDataParser::initWithBoundary(
    const std::optional<std::string>& boundary, unsigned formEncoding) {
  if (!boundary) {
    HTTP_LOG_WARN(kLogLevel, "MultipartFormDataParser: init with zero boundary");
    return std::nullopt;
  }
  return MultipartFormDataParser(*boundary, formEncoding);
}

long MultipartFormDataParser::offsetTillNewlineSinceOffset(std::size_t offset,
                                                           std::string_view data) {
  std::size_t found = data.find("\r\n", offset);
  return found == std::string_view::npos ? -1 : static_cast<long>(found + 2);
}

long MultipartFormDataParser::findHeaderEnd(std::string_view data, std::size_t offset) {
  std::size_t found = data.find("\r\n\r\n", offset);
  return found == std::string_view::npos ? -1 : static_cast<long>(found);
}

long MultipartFormDataParser::findContentEnd(std::string_view data, std::size_t offset) const {
  std::size_t found = data.find(*boundaryData, offset);
  return found == std::string_view::npos ? -1 : static_cast<long>(found);
}

std::size_t MultipartFormDataParser::numberOfBytesToLeavePendingWithData(std::string_view data,
                                                                         int encoding) {
  const std::size_t length = data.size();
  if (encoding == contentTransferEncoding_quotedPrintable) {
    if (length <= 2) return length;
    if (data[length - 2] == '=') return 2;
    if (data[length - 1] == '=') return 1;
    return 0;
  }
  if (encoding == contentTransferEncoding_base64) {
    // Only whole groups of four characters since the last line break are decoded.
    std::size_t lineStart = data.rfind('\n');
    lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
    return (length - lineStart) % 4;
  }
  return 0;
}

long MultipartFormDataParser::processPreamble(std::string_view data) {
  std::string_view marker = std::string_view(*boundaryData).substr(2);
  std::size_t found = data.find(marker);
  if (found != std::string_view::npos) {
    if (found > 0) {
      if (auto theDelegate = delegate()) theDelegate->processPreambleData(data.substr(0, found));
    }
    processedPreamble = true;
    waitingForCRLF = true;
    return static_cast<long>(found + marker.size());
  }
  if (data.size() > marker.size()) {
    if (auto theDelegate = delegate())
      theDelegate->processPreambleData(data.substr(0, data.size() - marker.size()));
    pendingData = std::string(data.substr(data.size() - marker.size()));
  } else {
    pendingData = std::string(data);
  }
  return -1;
}

bool MultipartFormDataParser::appendData(std::string_view data) {
  if (!boundaryData) {
    HTTP_LOG_ERROR(kLogLevel,
                   "MultipartFormDataParser: Trying to parse multipart without specifying a "
                   "valid boundary");
    return false;
  }
  // The bytes held back from earlier chunks come first.
  std::string working = std::move(pendingData);
  pendingData.clear();
  working.append(data);
  const std::size_t boundaryLength = boundaryData->size();
  std::size_t offset = 0;

  // No shortcut for short input: every state below holds back what it cannot decide yet, so a
  // body gives the same parts however it is cut. (Holding back every chunk no longer than the
  // boundary, whatever the state, left a complete part header waiting for bytes that might
  // never come.)
  const std::string_view all = working;
  for (;;) {
    if (checkForContentEnd) {
      if (all.size() - offset < 2) {
        pendingData = std::string(all.substr(offset));
        return true;
      }
      checkForContentEnd = false;
      waitingForCRLF = true;
      if (all.compare(offset, 2, "--") == 0) {
        reachedEpilogue = true;
        offset += 2;
      }
    }
    if (waitingForCRLF) {
      long next = offsetTillNewlineSinceOffset(offset, all);
      if (next < 0) {
        pendingData = !all.empty() && all.back() == '\r' ? std::string("\r") : std::string();
        return true;
      }
      offset = static_cast<std::size_t>(next);
      waitingForCRLF = false;
    }
    if (!processedPreamble) {
      long next = processPreamble(all);
      if (next < 0) return true;
      offset = static_cast<std::size_t>(next);
      continue;
    }
    if (reachedEpilogue) {
      if (offset < all.size()) {
        if (auto theDelegate = delegate()) theDelegate->processEpilogueData(all.substr(offset));
      }
      return true;
    }
    if (!currentHeader) {
      long headerEnd = findHeaderEnd(all, offset);
      if (headerEnd < 0) {
        pendingData = std::string(all.substr(offset));
        if (pendingData.size() > kMaxHeaderLength) {
          HTTP_LOG_ERROR(kLogLevel, "MultipartFormDataParser: part header exceeds %zu bytes",
                         kMaxHeaderLength);
          pendingData.clear();
          return false;
        }
        return true;
      }
      const std::size_t end = static_cast<std::size_t>(headerEnd);
      if (end - offset > kMaxHeaderLength) {
        HTTP_LOG_ERROR(kLogLevel, "MultipartFormDataParser: part header exceeds %zu bytes",
                       kMaxHeaderLength);
        return false;
      }
      currentHeader.emplace(all.substr(offset, end + 2 - offset), _formEncoding);
      if (auto theDelegate = delegate()) theDelegate->processStartOfPartWithHeader(*currentHeader);
      offset = end + 4;
    }
    long contentEnd = findContentEnd(all, offset);
    if (contentEnd >= 0) {
      const std::size_t end = static_cast<std::size_t>(contentEnd);
      if (auto theDelegate = delegate()) {
        theDelegate->processContent(all.substr(offset, end - offset), *currentHeader);
        theDelegate->processEndOfPartWithHeader(*currentHeader);
      }
      currentHeader.reset();
      offset = end + boundaryLength;
      checkForContentEnd = true;
      continue;
    }
    // The last boundary-length bytes may begin a boundary: they wait for the next chunk.
    std::size_t available =
        all.size() > offset + boundaryLength ? all.size() - offset - boundaryLength : 0;
    std::size_t leave = available ? numberOfBytesToLeavePendingWithData(
                                        all.substr(offset, available), currentEncoding)
                                  : 0;
    if (available <= leave) {
      pendingData = std::string(all.substr(offset));
      return true;
    }
    available -= leave;
    std::string decoded = decodedDataFromData(all.substr(offset, available), currentEncoding);
    if (auto theDelegate = delegate()) theDelegate->processContent(decoded, *currentHeader);
    pendingData = std::string(all.substr(offset + available));
    return true;
  }
}

std::string MultipartFormDataParser::decodedDataFromData(std::string_view data, int encoding) {
  switch (encoding) {
    case contentTransferEncoding_quotedPrintable:
      return decodedDataFromQuotedPrintableData(data);
    case contentTransferEncoding_base64: {
      platform::Bytes bytes = HTData::base64Decoded(data);
      return std::string(bytes.begin(), bytes.end());
    }
    default:
      return std::string(data);
  }
}

std::string MultipartFormDataParser::decodedDataFromQuotedPrintableData(std::string_view data) {
  std::string out;
  out.reserve(data.size());
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] != '=') {
      out += data[i];
      continue;
    }
    if (i + 2 >= data.size()) {
      // Fewer than two bytes follow: the "=" and what follows it are dropped.
      if (i + 1 < data.size() && data[i + 1] == '\r') break;
      HTTP_LOG_WARN(kLogLevel,
                    "MultipartFormDataParser: warning, trailing '=' in quoted printable data");
      break;
    }
    if (data[i + 1] == '\r') {
      i += data[i + 2] == '\n' ? 2 : 1;  // a soft line break
      continue;
    }
    out += static_cast<char>(hexDigitValue(data[i + 1]) << 4 | hexDigitValue(data[i + 2]));
    i += 2;
  }
  return out;
}
