// The WebSocket endpoint's message reading on arbitrary bytes, read the way the endpoint reads
// its socket: exact lengths, and terminator reads that give up past their cap. The first byte
// picks the dialect (RFC 6455 frames or the old drafts) and the message cap. It must not crash,
// no message may be longer than the cap, and the messages it read, framed again (masked and
// not, with 7- and 16-bit lengths), must read back the same.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "httpserver/core/WebSocketFrameReader.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

std::vector<std::string> readMessages(std::string_view input, bool rfc6455, std::size_t cap) {
  WebSocketFrameReader reader(rfc6455, cap);
  std::deque<WebSocketFrameReader::Read> pending{reader.first()};
  std::vector<std::string> messages;
  std::size_t position = 0;
  while (!pending.empty()) {
    const WebSocketFrameReader::Read read = pending.front();
    pending.pop_front();
    check(read.length > 0);
    std::string_view rest = input.substr(position);
    std::string_view bytes;
    if (read.toTerminator) {
      std::size_t end =
          rest.substr(0, read.length).find(static_cast<char>(WebSocketFrameReader::kTerminator));
      if (end == std::string_view::npos) break;  // ends early, or past the cap: the socket closes
      bytes = rest.substr(0, end + 1);
    } else {
      if (rest.size() < read.length) break;
      bytes = rest.substr(0, read.length);
    }
    position += bytes.size();
    WebSocketFrameReader::Step step = reader.didRead(read.tag, bytes);
    if (step.close) break;
    if (step.message) {
      check(step.message->size() <= cap);
      messages.push_back(*step.message);
    }
    pending.insert(pending.end(), step.reads.begin(), step.reads.end());
  }
  return messages;
}

std::string framed(const std::vector<std::string>& messages, bool masked) {
  std::string out;
  const std::uint8_t key[4] = {0x12, 0x34, 0x56, 0x78};
  for (const std::string& message : messages) {
    out += static_cast<char>(0x81);
    const std::uint8_t mask = masked ? 0x80 : 0;
    if (message.size() < 126) {
      out += static_cast<char>(mask | message.size());
    } else {
      out += static_cast<char>(mask | 126);
      out += static_cast<char>(message.size() >> 8);
      out += static_cast<char>(message.size() & 0xFF);
    }
    if (masked) out.append(reinterpret_cast<const char*>(key), 4);
    for (std::size_t i = 0; i < message.size(); ++i)
      out += static_cast<char>(message[i] ^ (masked ? key[i % 4] : 0));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool rfc6455 = (data[0] & 1) != 0;
  const std::size_t cap = std::size_t{1} << (data[0] >> 1 & 15);
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> messages = readMessages(input, rfc6455, cap);
  if (!rfc6455 || messages.empty()) return 0;
  for (bool masked : {false, true}) {
    std::vector<std::string> again = readMessages(framed(messages, masked), true, cap);
    check(again == messages);
  }
  return 0;
}
