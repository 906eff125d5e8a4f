#pragma once
// TAGBaseNStringEncoding: bytes to text and back with an alphabet of 2, 4, ..., 128 ASCII
// characters; each character carries log2(size) bits of input, most significant first.
// Ready-made encoders cover binary, hexadecimal, the base32 and base64 families of RFC 4648 and
// Crockford's base32.
//
// Decoding accepts any number of padding characters at the end (padding is optional), skips the
// ignored characters, reads synonyms as their alphabet character, and refuses (nullopt) text
// that is not ASCII, holds a character outside the encoding, continues after padding, or leaves
// set bits over.
//
// An encoder is configured once and then used; it is not shared between threads while being
// configured.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

class TAGBaseNStringEncoding {
 public:
  static std::shared_ptr<TAGBaseNStringEncoding> binaryStringEncoding();
  static std::shared_ptr<TAGBaseNStringEncoding> hexStringEncoding();
  static std::shared_ptr<TAGBaseNStringEncoding> rfc4648Base32StringEncoding();
  static std::shared_ptr<TAGBaseNStringEncoding> rfc4648Base32HexStringEncoding();
  static std::shared_ptr<TAGBaseNStringEncoding> crockfordBase32StringEncoding();
  static std::shared_ptr<TAGBaseNStringEncoding> rfc4648Base64StringEncoding();
  static std::shared_ptr<TAGBaseNStringEncoding> rfc4648Base64WebsafeStringEncoding();

  // Null when the alphabet is not ASCII, its length is not a power of two from 2 to 128, or it
  // repeats a character.
  static std::shared_ptr<TAGBaseNStringEncoding> stringEncodingWithString(
      std::string_view alphabet);

  // Extra characters accepted when decoding: each character without a value takes the value of
  // the last one before it that has one.
  void addDecodeSynonyms(std::string_view synonyms);
  // Characters skipped when decoding; one that already has a meaning fails an assertion
  // ("Character already mapped").
  void ignoreCharacters(std::string_view characters);
  void setPaddingChar(char paddingChar);
  bool doPad() const { return _doPad; }
  void setDoPad(bool doPad) { _doPad = doPad; }

  // Padded to a whole number of units when doPad is set; empty input gives "".
  std::string encode(const platform::Bytes& bytes) const;
  std::string encodeString(std::string_view text) const;
  std::optional<platform::Bytes> decode(std::string_view text) const;
  // The decoded bytes as UTF-8 text; nullopt when decoding fails or they are not UTF-8.
  std::optional<std::string> stringByDecoding(std::string_view text) const;

  // "<Base%d StringEncoder: <hex bytes of the alphabet>>".
  std::string description() const;

 private:
  static constexpr std::int32_t kUnknown = -1;
  static constexpr std::int32_t kPadding = -2;
  static constexpr std::int32_t kIgnored = -3;

  TAGBaseNStringEncoding() = default;
  std::string encodeBytes(const std::uint8_t* data, std::size_t size) const;

  std::string charMapData_;
  std::int32_t reverseCharMap_[128];
  int shift_ = 0;
  int mask_ = 0;
  std::size_t padLen_ = 0;
  bool _doPad = false;
  char paddingChar_ = 0;
};
