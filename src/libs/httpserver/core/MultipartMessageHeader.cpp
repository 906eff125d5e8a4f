#include "httpserver/core/MultipartMessageHeader.h"

#include "httpserver/core/HTTPLogging.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

MultipartMessageHeader::MultipartMessageHeader(std::string_view data, unsigned formEncoding) {
  std::size_t lineStart = 0;
  auto takeLine = [&](std::string_view line) {
    if (line.empty()) return;
    if (std::optional<MultipartMessageHeaderField> field =
            MultipartMessageHeaderField::initWithData(line, formEncoding)) {
      fields_.insert_or_assign(field->name(), *field);
      return;
    }
    std::string ascii;
    for (char c : line) ascii += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    HTTP_LOG_WARN(kLogLevel,
                  "MultipartFormDataParser: Failed to parse MIME header field. Input ASCII "
                  "string:%s",
                  ascii.c_str());
  };
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] != '\r' || data[i + 1] != '\n') continue;
    // A CR LF followed by white space folds the next line into this one.
    if (i + 2 < data.size() && isSpace(data[i + 2])) continue;
    takeLine(data.substr(lineStart, i - lineStart));
    lineStart = i + 2;
    ++i;
  }
  if (lineStart < data.size()) takeLine(data.substr(lineStart));
  if (fields_.empty())
    fields_.insert_or_assign("Content-Type",
                             MultipartMessageHeaderField("Content-Type", "text/plain"));
}

std::string MultipartMessageHeader::description() const {
  std::string text = "{";
  for (const auto& [name, field] : fields_)
    text += "\n    " + name + " = " + field.description() + ";";
  return text + "\n}";
}
