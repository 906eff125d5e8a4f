#include "platform/foundation/OpenStepPropertyList.h"

#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/Utf8.h"

namespace platform {

namespace {

bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendUtf8(std::uint32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<Value> read(std::string* error) {
    std::optional<Value> value = readValue(0);
    if (value && (skipSpace(), pos_ != text_.size()))
      value = refuse("text after the property list");
    if (value && !isValidUtf8Tree(*value)) value = refuse("text that is not UTF-8");
    if (!value && error) *error = error_.empty() ? "malformed property list" : error_;
    return value;
  }

 private:
  std::nullopt_t refuse(const char* reason) {
    if (error_.empty()) error_ = reason;
    return std::nullopt;
  }

  static bool isValidUtf8Tree(const Value& value) {
    if (auto* text = value.asText()) return isValidUtf8(*text);
    if (auto* items = value.asArray()) {
      for (const auto& item : *items) {
        if (!isValidUtf8Tree(item)) return false;
      }
    }
    if (auto* entries = value.asDictionary()) {
      for (const auto& [key, item] : *entries) {
        if (!isValidUtf8(key) || !isValidUtf8Tree(item)) return false;
      }
    }
    return true;
  }

  bool at(char c) const { return pos_ < text_.size() && text_[pos_] == c; }

  void skipSpace() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
        ++pos_;
      } else if (text_.compare(pos_, 2, "//") == 0) {
        std::size_t end = text_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else if (text_.compare(pos_, 2, "/*") == 0) {
        std::size_t end = text_.find("*/", pos_ + 2);
        pos_ = end == std::string_view::npos ? text_.size() : end + 2;
      } else {
        return;
      }
    }
  }

  std::optional<Value> readValue(int depth) {
    if (depth > PropertyListSerialization::kMaxDepth)
      return refuse("property list nested too deep");
    skipSpace();
    if (pos_ >= text_.size()) return refuse("unexpected end");
    char c = text_[pos_];
    if (c == '{') return readDictionary(depth);
    if (c == '(') return readArray(depth);
    if (c == '<') return readData();
    std::optional<std::string> text = readString();
    if (!text) return std::nullopt;
    return Value(std::move(*text));
  }

  std::optional<std::string> readString() {
    skipSpace();
    if (at('"') || at('\'')) return readQuoted(text_[pos_++]);
    std::size_t start = pos_;
    while (pos_ < text_.size() && isWordChar(text_[pos_])) ++pos_;
    if (pos_ == start) return refuse("unexpected character");
    return std::string(text_.substr(start, pos_ - start));
  }

  std::optional<std::string> readQuoted(char quote) {
    std::string out;
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == quote) return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) break;
      char e = text_[pos_++];
      switch (e) {
        case 'a':
          out += '\a';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'v':
          out += '\v';
          break;
        case 'U': {
          std::uint32_t code = 0;
          int digits = 0;
          for (; digits < 4 && pos_ < text_.size() && hexValue(text_[pos_]) >= 0; ++digits) {
            code = code * 16 + static_cast<std::uint32_t>(hexValue(text_[pos_++]));
          }
          if (digits == 0 || (code >= 0xD800 && code <= 0xDFFF)) return refuse("bad \\U escape");
          appendUtf8(code, &out);
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            std::uint32_t code = static_cast<std::uint32_t>(e - '0');
            for (int digits = 1;
                 digits < 3 && pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '7';
                 ++digits) {
              code = code * 8 + static_cast<std::uint32_t>(text_[pos_++] - '0');
            }
            appendUtf8(code & 0xFF, &out);
          } else {
            out += e;
          }
      }
    }
    return refuse("unterminated string");
  }

  std::optional<Value> readData() {
    ++pos_;
    Bytes bytes;
    int high = -1;
    while (true) {
      skipSpace();
      if (pos_ >= text_.size()) return refuse("unterminated data");
      char c = text_[pos_++];
      if (c == '>') break;
      int v = hexValue(c);
      if (v < 0) return refuse("bad character in data");
      if (high < 0) {
        high = v;
      } else {
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
        high = -1;
      }
    }
    if (high >= 0) return refuse("odd number of digits in data");
    return Value(std::move(bytes));
  }

  std::optional<Value> readArray(int depth) {
    ++pos_;
    Array items;
    skipSpace();
    while (!at(')')) {
      std::optional<Value> item = readValue(depth + 1);
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
      skipSpace();
      if (at(',')) {
        ++pos_;
        skipSpace();
      } else if (!at(')')) {
        return refuse("expected ',' or ')'");
      }
    }
    ++pos_;
    return Value(std::move(items));
  }

  std::optional<Value> readDictionary(int depth) {
    ++pos_;
    Dictionary entries;
    skipSpace();
    while (!at('}')) {
      if (pos_ >= text_.size()) return refuse("unterminated dictionary");
      std::optional<std::string> key = readString();
      if (!key) return std::nullopt;
      skipSpace();
      if (!at('=')) return refuse("expected '='");
      ++pos_;
      std::optional<Value> item = readValue(depth + 1);
      if (!item) return std::nullopt;
      skipSpace();
      if (!at(';')) return refuse("expected ';'");
      ++pos_;
      entries.insert_or_assign(std::move(*key), std::move(*item));
      skipSpace();
    }
    ++pos_;
    return Value(std::move(entries));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

std::optional<Value> OpenStepPropertyList::read(std::string_view data, std::string* error) {
  return Reader(data).read(error);
}

}  // namespace platform
