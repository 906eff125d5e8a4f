// The media server's "Authorization" reader on arbitrary header text. It must not crash, Basic
// and Digest must exclude each other, and a parameter it reports as quoted must be found again
// by the plain lookup in its quoted form.

#include <cstddef>
#include <cstdint>
#include <string>

#include "httpserver/core/HTTPAuthenticationRequest.h"
#include "httpserver/core/HTTPMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string header(reinterpret_cast<const char*>(data), size);
  HTTPMessage request("GET", "/", "HTTP/1.1");
  request.setHeaderField("Authorization", header);
  HTTPAuthenticationRequest auth(request);
  if (auth.isBasic() && auth.isDigest()) __builtin_trap();
  for (const char* name : {"username", "nonce", "cnonce", "uri", "response", "realm"}) {
    auto quoted = HTTPAuthenticationRequest::quotedSubHeaderFieldValue(name, header);
    if (quoted && !HTTPAuthenticationRequest::nonquotedSubHeaderFieldValue(name, header))
      __builtin_trap();
  }
  return 0;
}
