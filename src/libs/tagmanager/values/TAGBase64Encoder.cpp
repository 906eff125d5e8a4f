#include "tagmanager/values/TAGBase64Encoder.h"

#include "tagmanager/values/TAGBaseNStringEncoding.h"

namespace {

std::shared_ptr<TAGBaseNStringEncoding> encoder(bool webSafe, bool noPadding) {
  auto encoding = webSafe ? TAGBaseNStringEncoding::rfc4648Base64WebsafeStringEncoding()
                          : TAGBaseNStringEncoding::rfc4648Base64StringEncoding();
  encoding->setDoPad(!noPadding);
  return encoding;
}

}  // namespace

std::string TAGBase64Encoder::encode(const platform::Bytes& bytes, bool noPadding) {
  return encoder(false, noPadding)->encode(bytes);
}

std::string TAGBase64Encoder::encodeWebSafe(const platform::Bytes& bytes, bool noPadding) {
  return encoder(true, noPadding)->encode(bytes);
}

std::optional<platform::Bytes> TAGBase64Encoder::decode(std::string_view text, bool noPadding) {
  return encoder(false, noPadding)->decode(text);
}

std::optional<platform::Bytes> TAGBase64Encoder::decodeWebSafe(std::string_view text,
                                                               bool noPadding) {
  return encoder(true, noPadding)->decode(text);
}
