#include "tagmanager/values/TAGBaseNStringEncoding.h"

#include <numeric>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Utf8.h"

namespace {

bool isAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::shared_ptr<TAGBaseNStringEncoding> paddedEncoding(std::string_view alphabet) {
  auto encoding = TAGBaseNStringEncoding::stringEncodingWithString(alphabet);
  encoding->setPaddingChar('=');
  encoding->setDoPad(true);
  return encoding;
}

}  // namespace

std::shared_ptr<TAGBaseNStringEncoding> TAGBaseNStringEncoding::binaryStringEncoding() {
  return stringEncodingWithString("01");
}

std::shared_ptr<TAGBaseNStringEncoding> TAGBaseNStringEncoding::hexStringEncoding() {
  auto encoding = stringEncodingWithString("0123456789ABCDEF");
  encoding->addDecodeSynonyms("AaBbCcDdEeFf");
  return encoding;
}

std::shared_ptr<TAGBaseNStringEncoding> TAGBaseNStringEncoding::rfc4648Base32StringEncoding() {
  return paddedEncoding("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567");
}

std::shared_ptr<TAGBaseNStringEncoding> TAGBaseNStringEncoding::rfc4648Base32HexStringEncoding() {
  return paddedEncoding("0123456789ABCDEFGHIJKLMNOPQRSTUV");
}

std::shared_ptr<TAGBaseNStringEncoding> TAGBaseNStringEncoding::crockfordBase32StringEncoding() {
  auto encoding = stringEncodingWithString("0123456789ABCDEFGHJKMNPQRSTVWXYZ");
  encoding->addDecodeSynonyms("0oO1iIlLAaBbCcDdEeFfGgHhJjKkMmNnPpQqRrSsTtVvWwXxYyZz");
  return encoding;
}

std::shared_ptr<TAGBaseNStringEncoding> TAGBaseNStringEncoding::rfc4648Base64StringEncoding() {
  return paddedEncoding("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
}

std::shared_ptr<TAGBaseNStringEncoding>
TAGBaseNStringEncoding::rfc4648Base64WebsafeStringEncoding() {
  return paddedEncoding("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_");
}

std::shared_ptr<TAGBaseNStringEncoding> TAGBaseNStringEncoding::stringEncodingWithString(
    std::string_view alphabet) {
  std::size_t length = alphabet.size();
  if (!isAscii(alphabet) || length < 2 || length > 128 || (length & (length - 1)) != 0) {
    return nullptr;
  }
  std::shared_ptr<TAGBaseNStringEncoding> encoding(new TAGBaseNStringEncoding);
  std::fill(std::begin(encoding->reverseCharMap_), std::end(encoding->reverseCharMap_), kUnknown);
  for (std::size_t i = 0; i < length; ++i) {
    std::int32_t& entry = encoding->reverseCharMap_[static_cast<unsigned char>(alphabet[i])];
    if (entry != kUnknown) return nullptr;
    entry = static_cast<std::int32_t>(i);
  }
  encoding->charMapData_ = std::string(alphabet);
  while ((std::size_t{1} << encoding->shift_) < length) ++encoding->shift_;
  encoding->mask_ = (1 << encoding->shift_) - 1;
  encoding->padLen_ = static_cast<std::size_t>(std::lcm(8, encoding->shift_) / encoding->shift_);
  return encoding;
}

void TAGBaseNStringEncoding::addDecodeSynonyms(std::string_view synonyms) {
  std::int32_t value = kUnknown;
  for (char c : synonyms) {
    auto code = static_cast<unsigned char>(c);
    if (code >= 128) continue;
    std::int32_t& entry = reverseCharMap_[code];
    if (entry == kUnknown) {
      entry = value;
    } else {
      value = entry;
    }
  }
}

void TAGBaseNStringEncoding::ignoreCharacters(std::string_view characters) {
  for (char c : characters) {
    auto code = static_cast<unsigned char>(c);
    if (code >= 128) continue;
    platform::assertThat(reverseCharMap_[code] == kUnknown, "Character already mapped");
    reverseCharMap_[code] = kIgnored;
  }
}

void TAGBaseNStringEncoding::setPaddingChar(char paddingChar) {
  paddingChar_ = paddingChar;
  auto code = static_cast<unsigned char>(paddingChar);
  if (code < 128) reverseCharMap_[code] = kPadding;
}

std::string TAGBaseNStringEncoding::encode(const platform::Bytes& bytes) const {
  return encodeBytes(bytes.data(), bytes.size());
}

std::string TAGBaseNStringEncoding::encodeString(std::string_view text) const {
  return encodeBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::string TAGBaseNStringEncoding::encodeBytes(const std::uint8_t* data, std::size_t size) const {
  if (size == 0) return "";
  auto shift = static_cast<std::size_t>(shift_);
  std::size_t length = (8 * size + shift - 1) / shift;
  if (_doPad) length = (length + padLen_ - 1) / padLen_ * padLen_;

  std::string out;
  out.reserve(length);
  std::uint32_t buffer = data[0];
  int pending = 8;
  std::size_t next = 1;
  while (pending > 0 || next < size) {
    if (pending < shift_) {
      if (next < size) {
        buffer = (buffer << 8) | data[next++];
        pending += 8;
      } else {
        buffer <<= (shift_ - pending);
        pending = shift_;
      }
    }
    pending -= shift_;
    out.push_back(charMapData_[(buffer >> pending) & static_cast<std::uint32_t>(mask_)]);
    buffer &= (1u << pending) - 1;
  }
  if (_doPad) out.append(length - out.size(), paddingChar_);
  platform::assertThat(out.size() == length, "Underflowed output buffer");
  return out;
}

std::optional<platform::Bytes> TAGBaseNStringEncoding::decode(std::string_view text) const {
  if (!isAscii(text)) return std::nullopt;
  std::size_t capacity = text.size() * static_cast<std::size_t>(shift_) / 8;
  platform::Bytes out;
  out.reserve(capacity);
  std::uint32_t buffer = 0;
  int pending = 0;
  bool sawPadding = false;
  for (char c : text) {
    std::int32_t value = reverseCharMap_[static_cast<unsigned char>(c)];
    if (value == kIgnored) continue;
    if (value == kUnknown) return std::nullopt;
    if (value == kPadding) {
      sawPadding = true;
      continue;
    }
    if (sawPadding) return std::nullopt;
    buffer = (buffer << shift_) | static_cast<std::uint32_t>(value);
    pending += shift_;
    if (pending >= 8) {
      pending -= 8;
      out.push_back(static_cast<std::uint8_t>(buffer >> pending));
      buffer &= (1u << pending) - 1;
    }
  }
  if (pending > 0 && buffer != 0) return std::nullopt;
  platform::assertThat(out.size() <= capacity, "Overflowed buffer");
  return out;
}

std::optional<std::string> TAGBaseNStringEncoding::stringByDecoding(std::string_view text) const {
  auto bytes = decode(text);
  if (!bytes || !platform::isValidUtf8(*bytes)) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

std::string TAGBaseNStringEncoding::description() const {
  static const char* const kHex = "0123456789abcdef";
  std::string bytes;
  for (std::size_t i = 0; i < charMapData_.size(); ++i) {
    if (i > 0 && i % 4 == 0) bytes += ' ';
    auto c = static_cast<unsigned char>(charMapData_[i]);
    bytes += kHex[c >> 4];
    bytes += kHex[c & 0xF];
  }
  return "<Base" + std::to_string(charMapData_.size()) + " StringEncoder: <" + bytes + ">>";
}
