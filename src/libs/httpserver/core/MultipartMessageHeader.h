#pragma once
// MultipartMessageHeader: the header block of one multipart part. Lines are split at each CR LF
// that is not followed by white space, so a folded line stays one field with its continuation.
// Lines that do not parse are skipped with one warning per block (the first line and a count); a
// block with no parsable line counts as "Content-Type: text/plain". A later field of the same name
// replaces an earlier one.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "httpserver/core/MultipartMessageHeaderField.h"

class MultipartMessageHeader {
 public:
  MultipartMessageHeader(std::string_view data, unsigned formEncoding);

  const std::map<std::string, MultipartMessageHeaderField>& fields() const { return _fields; }
  // The content transfer encoding; always 0 (unknown).
  int encoding() const { return 0; }
  std::string description() const;

 private:
  // What the lines of one block found wrong: the complaints of the first line that had any, the
  // first line that did not parse and how many did not.
  struct Complaints {
    std::vector<MultipartMessageHeaderField::Complaint> first;
    std::string firstFailedLine;
    std::size_t failedLines = 0;
  };
  // Logs them once for the whole block.
  static void report(const Complaints& complaints);

  std::map<std::string, MultipartMessageHeaderField> _fields;
};
