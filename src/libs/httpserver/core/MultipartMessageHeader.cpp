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
  // What is wrong with the lines is reported once per part (the first complaints and a count):
  // a header block of thousands of bad lines must not cost a log line each on the queue every
  // connection shares.
  Complaints complaints;
  auto takeLine = [&](std::string_view line) {
    if (line.empty()) return;
    std::vector<MultipartMessageHeaderField::Complaint> found;
    std::optional<MultipartMessageHeaderField> field =
        MultipartMessageHeaderField::initWithData(line, formEncoding, &found);
    if (field) _fields.insert_or_assign(field->name(), *field);
    if (!found.empty() && complaints.first.empty()) complaints.first = std::move(found);
    if (field) return;
    if (complaints.failedLines++ == 0) complaints.firstFailedLine = line;
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
  report(complaints);
  if (_fields.empty())
    _fields.insert_or_assign("Content-Type",
                             MultipartMessageHeaderField("Content-Type", "text/plain"));
}

void MultipartMessageHeader::report(const Complaints& complaints) {
  for (const MultipartMessageHeaderField::Complaint& complaint : complaints.first) {
    if (complaint.error) {
      HTTP_LOG_ERROR(kLogLevel, "%s", complaint.text.c_str());
    } else {
      HTTP_LOG_WARN(kLogLevel, "%s", complaint.text.c_str());
    }
  }
  if (complaints.failedLines == 0) return;
  std::string ascii;
  for (char c : complaints.firstFailedLine) ascii += static_cast<unsigned char>(c) < 0x80 ? c : '?';
  if (complaints.failedLines == 1) {
    HTTP_LOG_WARN(kLogLevel,
                  "MultipartFormDataParser: Failed to parse MIME header field. Input ASCII "
                  "string:%s",
                  ascii.c_str());
    return;
  }
  HTTP_LOG_WARN(kLogLevel,
                "MultipartFormDataParser: Failed to parse MIME header field. Input ASCII "
                "string:%s (and %zu more lines of this part)",
                ascii.c_str(), complaints.failedLines - 1);
}

std::string MultipartMessageHeader::description() const {
  std::string text = "{";
  for (const auto& [name, field] : _fields)
    text += "\n    " + name + " = " + field.description() + ";";
  return text + "\n}";
}
