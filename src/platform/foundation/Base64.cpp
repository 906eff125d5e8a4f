#include "platform/foundation/Base64.h"

#include <openssl/evp.h>

#include <cctype>

namespace platform {

std::string base64Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  out.resize(n);
  return out;
}

std::string base64Encode(const Bytes& bytes) {
  return base64Encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

int base64AlphabetValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::optional<Bytes> base64Decode(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) clean += c;
  if (clean.size() % 4 != 0) return std::nullopt;
  Bytes out(clean.size() / 4 * 3 + 1);
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()),
                          static_cast<int>(clean.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding as zero bytes; take them off again.
  size_t padding = 0;
  if (!clean.empty() && clean.back() == '=') ++padding;
  if (clean.size() > 1 && clean[clean.size() - 2] == '=') ++padding;
  out.resize(static_cast<size_t>(n) - padding);
  return out;
}

}  // namespace platform
