// The tag manager's decoders on any text: every ready-made base-2^n alphabet, base16 and base64
// in both alphabets. A decoder may refuse the text (base16 by its IllegalArgumentException) but
// whatever decodes must encode to text that decodes to the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/Assert.h"
#include "tagmanager/values/TAGBase16.h"
#include "tagmanager/values/TAGBase64Encoder.h"
#include "tagmanager/values/TAGBaseNStringEncoding.h"
#include "tagmanager/values/TAGValueEscapeUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  using Factory = std::shared_ptr<TAGBaseNStringEncoding> (*)();
  for (Factory factory :
       {TAGBaseNStringEncoding::binaryStringEncoding, TAGBaseNStringEncoding::hexStringEncoding,
        TAGBaseNStringEncoding::rfc4648Base32StringEncoding,
        TAGBaseNStringEncoding::rfc4648Base32HexStringEncoding,
        TAGBaseNStringEncoding::crockfordBase32StringEncoding,
        TAGBaseNStringEncoding::rfc4648Base64StringEncoding,
        TAGBaseNStringEncoding::rfc4648Base64WebsafeStringEncoding}) {
    auto encoding = factory();
    auto bytes = encoding->decode(text);
    if (bytes && encoding->decode(encoding->encode(*bytes)) != bytes) std::abort();
    (void)encoding->stringByDecoding(text);
  }
  for (bool noPadding : {false, true}) {
    auto bytes = TAGBase64Encoder::decode(text, noPadding);
    if (bytes &&
        TAGBase64Encoder::decode(TAGBase64Encoder::encode(*bytes, noPadding), true) != bytes)
      std::abort();
    auto webSafe = TAGBase64Encoder::decodeWebSafe(text, noPadding);
    if (webSafe && TAGBase64Encoder::decodeWebSafe(
                       TAGBase64Encoder::encodeWebSafe(*webSafe, noPadding), false) != webSafe)
      std::abort();
  }
  try {
    platform::Bytes bytes = TAGBase16::decode(text);
    if (TAGBase16::decode(TAGBase16::encode(bytes)) != bytes) std::abort();
  } catch (const platform::Exception& e) {
    if (e.name() != "IllegalArgumentException") std::abort();
  }
  if (auto decoded = TAGValueEscapeUtil::urlDecode(text)) {
    if (TAGValueEscapeUtil::urlDecode(*TAGValueEscapeUtil::urlEncode(*decoded)) != decoded)
      std::abort();
  }
  return 0;
}
