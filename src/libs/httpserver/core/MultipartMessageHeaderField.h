#pragma once
// MultipartMessageHeaderField: one header line of a multipart part ("Content-Disposition:
// form-data; name="a"; filename="b.txt""): its name, its value before the first ";" and the
// parameters after it, quotes removed and backslash escapes resolved. Header values and
// parameters are read in the form's text encoding.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Text encodings a form may declare, numbered as the platform numbers them.
enum MultipartFormEncoding : unsigned {
  kMultipartASCIIEncoding = 1,
  kMultipartUTF8Encoding = 4,
  kMultipartISOLatin1Encoding = 5,
};

// `bytes` in `encoding`, as UTF-8; absent when they are not text of that encoding.
std::optional<std::string> decodeMultipartText(std::string_view bytes, unsigned encoding);

class MultipartMessageHeaderField {
 public:
  // What the parse of one line found wrong, as the log line it would make.
  struct Complaint {
    bool error;  // error level (else warning)
    std::string text;
  };

  // Absent when the line has no colon (or only in its last two bytes), a name that is not
  // ASCII, a value that is not text of `encoding`, or parameters that do not parse. What is
  // wrong is logged.
  static std::optional<MultipartMessageHeaderField> initWithData(std::string_view data,
                                                                 unsigned encoding);
  // The same, with what is wrong appended to `complaints` instead of logged, so a header block
  // can report once for all its lines.
  static std::optional<MultipartMessageHeaderField> initWithData(
      std::string_view data, unsigned encoding, std::vector<Complaint>* complaints);
  MultipartMessageHeaderField(std::string name, std::string value)
      : _name(std::move(name)), _value(std::move(value)) {}

  const std::string& name() const { return _name; }
  const std::string& value() const { return _value; }
  const std::map<std::string, std::string>& params() const { return _params; }
  // "name:value\n params: {...}"
  std::string description() const;

 private:
  MultipartMessageHeaderField() = default;
  // Fills `_params` from the text after the value's ";"; false when it does not parse.
  bool parseHeaderValueBytes(std::string_view bytes, unsigned encoding,
                             std::vector<Complaint>* complaints);

  std::string _name;
  std::string _value;
  std::map<std::string, std::string> _params;
};
