#include "httpengine/HttpEngineAdditions.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/Utf8.h"

std::string HttpEngineAdditions::md5(std::string_view text) { return platform::md5Hex(text); }

std::string HttpEngineAdditions::uniqueString() { return platform::makeUuid(); }

std::string HttpEngineAdditions::he_urlEncodedString(std::string_view text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
      continue;
    }
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  return out;
}

std::string HttpEngineAdditions::urlDecodedString(std::string_view text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    // A malformed escape makes the whole text undecodable.
    if (i + 2 >= text.size()) return "";
    int high = hex(text[i + 1]), low = hex(text[i + 2]);
    if (high < 0 || low < 0) return "";
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  // The unescaped bytes must read as UTF-8 text.
  if (!platform::isValidUtf8(out)) return "";
  for (auto& c : out) {
    if (c == '+') c = ' ';
  }
  return out;
}
