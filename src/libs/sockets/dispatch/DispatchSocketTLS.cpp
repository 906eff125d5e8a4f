// DispatchSocket: the upgrade to TLS. `startTLS` puts one marker into both queues; when both the
// read side and the write side have reached it, the engine (platform/security's SslContext) is
// set up from the settings and the handshake runs, stepped on by the read and write sources.
// The engine reaches the descriptor only through sslReadWithBuffer and sslWriteWithBuffer, so
// every byte still passes the socket's own accounting (socketFDBytesAvailable, flagWritable).

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/foundation/Assert.h"
#include "platform/security/SslContext.h"
#include "sockets/dispatch/DispatchReadPacket.h"
#include "sockets/dispatch/DispatchSocket.h"
#include "sockets/dispatch/DispatchSpecialPacket.h"
#include "sockets/dispatch/DispatchWritePacket.h"

using platform::Error;
using platform::Value;
namespace security = platform::security;

namespace {

// A peer that connects and never finishes its handshake must not hold the socket for ever.
constexpr double kDefaultHandshakeTimeout = 30.0;

int sslProtocolFromName(const Value& name) {
  const std::string* text = name.asText();
  if (!text) return security::kSSLProtocolUnknown;
  if (*text == "kSSLProtocol3") return security::kSSLProtocol3;
  if (*text == "kTLSProtocol1") return security::kTLSProtocol1;
  if (*text == "kTLSProtocol11") return security::kTLSProtocol11;
  if (*text == "kTLSProtocol12") return security::kTLSProtocol12;
  return security::kSSLProtocolUnknown;
}

// A boolean setting: absent (or not a boolean) is nullopt.
std::optional<bool> flagSetting(const platform::Dictionary& settings, const char* key) {
  auto it = settings.find(key);
  if (it == settings.end()) return std::nullopt;
  return it->second.asBool();
}

}  // namespace

Error DispatchSocket::sslError(int ssl_error) {
  platform::Dictionary userInfo;
  userInfo[platform::kLocalizedDescriptionKey] = Value(security::sslStatusText(ssl_error));
  userInfo[platform::kLocalizedRecoverySuggestionKey] =
      Value("Error code definition can be found in Apple's SecureTransport.h");
  return Error(kDispatchSocketSSLErrorDomain, ssl_error, std::move(userInfo));
}

void DispatchSocket::startTLS(const platform::Dictionary& tlsSettings) {
  auto packet = std::make_shared<DispatchSpecialPacket>(tlsSettings);
  // Always queued, even from the socket queue, so it keeps its place among the requests.
  socketQueue->async([self = shared_from_this(), packet = std::move(packet)] {
    if ((self->flags & flagStarted) && !(self->flags & flagTLSQueued) &&
        !(self->flags & flagRefuseRequests)) {
      self->readQueue.push_back(packet);
      self->writeQueue.push_back(packet);
      self->flags |= flagTLSQueued;
      self->maybeDequeueRead();
      self->maybeDequeueWrite();
    }
  });
}

void DispatchSocket::maybeStartTLS() {
  if ((flags & flagTLSStartingRead) && (flags & flagTLSStartingWrite)) ssl_startTLS();
}

void DispatchSocket::ssl_startTLS() {
  const platform::Dictionary& tlsSettings = currentTLSPacket_->tlsSettings;
  auto setting = [&tlsSettings](const char* key) -> const Value* {
    auto it = tlsSettings.find(key);
    return it == tlsSettings.end() ? nullptr : &it->second;
  };

  const bool isServer = flagSetting(tlsSettings, platform::kStreamSSLIsServer).value_or(false);
  _sslContext = security::SslContext::create(isServer ? security::SslProtocolSide::kServerSide
                                                      : security::SslProtocolSide::kClientSide);
  if (!_sslContext) {
    closeWithError(otherError("Error in SSLCreateContext"));
    return;
  }

  // The functions are the socket's own and run only inside the engine's calls, which are made
  // on the socket queue; the engine goes before the socket does.
  int status = _sslContext->setIOFuncs(
      [this](void* data, std::size_t* length) {
        platform::assertThat(isOnSocketQueue(), "What the deuce?");
        return sslReadWithBuffer(data, length);
      },
      [this](const void* data, std::size_t* length) {
        platform::assertThat(isOnSocketQueue(), "What the deuce?");
        return sslWriteWithBuffer(data, length);
      });
  if (status != security::kSslNoErr) {
    closeWithError(otherError("Error in SSLSetIOFuncs"));
    return;
  }

  if (const Value* peerName = setting(platform::kStreamSSLPeerName);
      peerName && peerName->asText()) {
    if (_sslContext->setPeerDomainName(*peerName->asText()) != security::kSslNoErr) {
      closeWithError(otherError("Error in SSLSetPeerDomainName"));
      return;
    }
  }

  // The certificate checks the platform's stream pair would relax are the engine's own here.
  if (auto allows = flagSetting(tlsSettings, platform::kStreamSSLAllowsAnyRoot)) {
    _sslContext->setAllowsAnyRoot(*allows);
  }
  if (auto allows = flagSetting(tlsSettings, platform::kStreamSSLAllowsExpiredRoots)) {
    _sslContext->setAllowsExpiredRoots(*allows);
  }
  if (auto validates = flagSetting(tlsSettings, platform::kStreamSSLValidatesCertificateChain)) {
    _sslContext->setValidatesCertificateChain(*validates);
  }
  if (auto allows = flagSetting(tlsSettings, platform::kStreamSSLAllowsExpiredCertificates)) {
    _sslContext->setAllowsExpiredCertificates(*allows);
  }

  if (const Value* certificates = setting(platform::kStreamSSLCertificates)) {
    const platform::Array* certRefs = certificates->asArray();
    if (!certRefs || _sslContext->setCertificate(*certRefs) != security::kSslNoErr) {
      closeWithError(otherError("Error in SSLSetCertificate"));
      return;
    }
  }

  const Value* minValue = setting(kDispatchSocketSSLProtocolVersionMin);
  const Value* maxValue = setting(kDispatchSocketSSLProtocolVersionMax);
  int minProtocol = minValue ? sslProtocolFromName(*minValue) : security::kSSLProtocolUnknown;
  int maxProtocol = maxValue ? sslProtocolFromName(*maxValue) : security::kSSLProtocolUnknown;
  if (!minValue && !maxValue) {
    const Value* level = setting(platform::kStreamSSLLevel);
    const std::string* levelText = level ? level->asText() : nullptr;
    if (levelText && *levelText == platform::kStreamSocketSecurityLevelSSLv3) {
      minProtocol = maxProtocol = security::kSSLProtocol3;
    } else if (levelText && *levelText == platform::kStreamSocketSecurityLevelTLSv1) {
      minProtocol = maxProtocol = security::kTLSProtocol1;
    }
  }
  if (minProtocol != security::kSSLProtocolUnknown ||
      maxProtocol != security::kSSLProtocolUnknown) {
    if (_sslContext->setProtocolVersionMin(minProtocol) != security::kSslNoErr ||
        _sslContext->setProtocolVersionMax(maxProtocol) != security::kSslNoErr) {
      closeWithError(otherError("Error in SSLSetProtocolVersionMinMax"));
      return;
    }
  }

  if (const Value* cipherSuites = setting(kDispatchSocketSSLCipherSuites)) {
    std::vector<std::uint16_t> ciphers;
    if (const platform::Array* numbers = cipherSuites->asArray()) {
      for (const Value& number : *numbers) {
        ciphers.push_back(static_cast<std::uint16_t>(number.integerValue()));
      }
    }
    if (_sslContext->setEnabledCiphers(ciphers) != security::kSslNoErr) {
      closeWithError(otherError("Error in SSLSetEnabledCiphers"));
      return;
    }
  }

  // Bytes read before the upgrade are the peer's first handshake bytes.
  sslPreBuffer = std::make_unique<DispatchSocketPreBuffer>(4096);
  const std::size_t preBufferLength = preBuffer.availableBytes();
  if (preBufferLength > 0) {
    sslPreBuffer->ensureCapacityForWrite(preBufferLength);
    std::copy_n(preBuffer.readBuffer(), preBufferLength, sslPreBuffer->writeBuffer());
    preBuffer.didRead(preBufferLength);
    sslPreBuffer->didWrite(preBufferLength);
  }

  sslErrCode = 0;
  startHandshakeTimer(handshakeTimeout());
  ssl_continueSSLHandshake();
}

double DispatchSocket::handshakeTimeout() const {
  std::optional<double> limit;
  auto consider = [&limit](double timeout) {
    // 0 asks a read for what is there already; no handshake could ever meet it.
    if (timeout > 0.0 && (!limit || timeout < *limit)) limit = timeout;
  };
  for (const auto& entry : readQueue) {
    if (const auto* packet = std::get_if<std::shared_ptr<DispatchReadPacket>>(&entry)) {
      consider((*packet)->timeout);
      break;
    }
  }
  for (const auto& entry : writeQueue) {
    if (const auto* packet = std::get_if<std::shared_ptr<DispatchWritePacket>>(&entry)) {
      consider((*packet)->timeout);
      break;
    }
  }
  return limit.value_or(kDefaultHandshakeTimeout);
}

void DispatchSocket::startHandshakeTimer(double timeout) {
  handshakeDeadline_ = platform::Clock::shared()->monotonicNow() + platform::seconds(timeout);
  handshakeTimer_ = makeTimeoutTimer(timeout, &DispatchSocket::doHandshakeTimeout);
}

void DispatchSocket::shortenHandshakeTimer(double timeout) {
  if (!handshakeTimer_ || !(timeout > 0.0)) return;
  const auto deadline = platform::Clock::shared()->monotonicNow() + platform::seconds(timeout);
  if (deadline >= handshakeDeadline_) return;
  handshakeDeadline_ = deadline;
  handshakeTimer_->setTimer(platform::seconds(timeout), std::nullopt);
}

void DispatchSocket::doHandshakeTimeout() {
  if (!(flags & (flagTLSStartingRead | flagTLSStartingWrite))) return;
  closeWithError(sslError(security::errSSLNetworkTimeout));
}

void DispatchSocket::endHandshakeTimer() {
  if (handshakeTimer_) {
    handshakeTimer_->cancel();
    handshakeTimer_.reset();
  }
}

void DispatchSocket::ssl_continueSSLHandshake() {
  const int status = _sslContext->handshake();
  if (status == security::errSSLWouldBlock) return;  // the next read or write pass goes on
  if (status != security::kSslNoErr) {
    closeWithError(sslError(status));
    return;
  }
  endHandshakeTimer();
  flags &= ~(flagTLSStartingRead | flagTLSStartingWrite);
  flags |= flagSecure;
  notifyDelegate(
      DispatchSocketDelegate::kDidSecure,
      [self = shared_from_this()](DispatchSocketDelegate& d) { d.socketDidSecure(self); });
  // The marker has no timers: ending it on both sides is letting it go.
  currentTLSPacket_.reset();
  maybeDequeueRead();
  maybeDequeueWrite();
}

int DispatchSocket::sslReadWithBuffer(void* buffer, std::size_t* bufferLength) {
  if (socketFDBytesAvailable == 0 && sslPreBuffer->availableBytes() == 0) {
    resumeReadSource();
    *bufferLength = 0;
    return security::errSSLWouldBlock;
  }
  const std::size_t totalBytesToRead = *bufferLength;
  std::size_t totalBytesRead = 0;
  auto* destination = static_cast<std::uint8_t*>(buffer);

  // What was read ahead first.
  const std::size_t fromPreBuffer = std::min(sslPreBuffer->availableBytes(), totalBytesToRead);
  if (fromPreBuffer > 0) {
    std::copy_n(sslPreBuffer->readBuffer(), fromPreBuffer, destination);
    sslPreBuffer->didRead(fromPreBuffer);
    totalBytesRead = fromPreBuffer;
    if (totalBytesRead == totalBytesToRead) {
      *bufferLength = totalBytesRead;
      return security::kSslNoErr;
    }
  }

  if (socketFDBytesAvailable == 0) {
    *bufferLength = totalBytesRead;
    return security::errSSLWouldBlock;
  }

  // Then the descriptor, in one call for all it holds: the engine asks in small pieces.
  const std::size_t bytesToRead = totalBytesToRead - totalBytesRead;
  const bool readIntoPreBuffer = bytesToRead < socketFDBytesAvailable;
  std::uint8_t* target;
  std::size_t readLength;
  if (readIntoPreBuffer) {
    readLength = socketFDBytesAvailable;
    sslPreBuffer->ensureCapacityForWrite(readLength);
    target = sslPreBuffer->writeBuffer();
  } else {
    readLength = bytesToRead;
    target = destination + totalBytesRead;
  }
  const int socketFD = _socket6FD != -1 ? _socket6FD : _socket4FD;
  const ssize_t result = ::read(socketFD, target, readLength);
  if (result < 0) {
    const int savedErrno = errno;
    socketFDBytesAvailable = 0;
    *bufferLength = totalBytesRead;
    if (savedErrno != EWOULDBLOCK) return security::errSSLClosedAbort;
    readSourceDrained();
    return security::errSSLWouldBlock;
  }
  if (result == 0) {
    socketFDBytesAvailable = 0;
    *bufferLength = totalBytesRead;
    return security::errSSLClosedAbort;
  }
  const auto bytesRead = static_cast<std::size_t>(result);
  if (bytesRead < readLength) {
    // A stream that gives less than was asked has nothing more to give now.
    readSourceDrained();
    socketFDBytesAvailable = 0;
  }
  socketFDBytesAvailable -= std::min(socketFDBytesAvailable, bytesRead);
  std::size_t delivered = bytesRead;
  if (readIntoPreBuffer) {
    sslPreBuffer->didWrite(bytesRead);
    delivered = std::min(bytesToRead, bytesRead);
    std::copy_n(sslPreBuffer->readBuffer(), delivered, destination + totalBytesRead);
    sslPreBuffer->didRead(delivered);
  }
  totalBytesRead += delivered;
  *bufferLength = totalBytesRead;
  return totalBytesRead == totalBytesToRead ? security::kSslNoErr : security::errSSLWouldBlock;
}

int DispatchSocket::sslWriteWithBuffer(const void* buffer, std::size_t* bufferLength) {
  if (!(flags & flagWritable)) {
    resumeWriteSource();
    *bufferLength = 0;
    return security::errSSLWouldBlock;
  }
  const std::size_t bytesToWrite = *bufferLength;
  const int socketFD = _socket4FD != -1 ? _socket4FD : _socket6FD;
  // MSG_NOSIGNAL: a peer that has gone gives EPIPE here instead of killing the process.
  const ssize_t result = ::send(socketFD, buffer, bytesToWrite, MSG_NOSIGNAL);
  if (result <= 0) {
    const bool wouldBlock = result == 0 || errno == EWOULDBLOCK;
    flags &= ~flagWritable;
    *bufferLength = 0;
    if (!wouldBlock) return security::errSSLClosedAbort;
    writeSourceDrained();
    // A handshake step has no write pass behind it to wait for room: the source must run.
    resumeWriteSource();
    return security::errSSLWouldBlock;
  }
  *bufferLength = static_cast<std::size_t>(result);
  return *bufferLength == bytesToWrite ? security::kSslNoErr : security::errSSLWouldBlock;
}

void DispatchSocket::flushSSLBuffers() {
  platform::assertThat((flags & flagSecure) != 0, "Cannot flush ssl buffers on non-secure socket");
  if (preBuffer.availableBytes() > 0) return;
  auto estimate = [this] {
    return socketFDBytesAvailable + sslPreBuffer->availableBytes() +
           _sslContext->bufferedReadSize();
  };
  for (std::size_t estimatedBytesAvailable = estimate(); estimatedBytesAvailable > 0;
       estimatedBytesAvailable = estimate()) {
    preBuffer.ensureCapacityForWrite(estimatedBytesAvailable);
    std::size_t bytesRead = 0;
    const int status =
        _sslContext->read(preBuffer.writeBuffer(), estimatedBytesAvailable, &bytesRead);
    if (bytesRead > 0) preBuffer.didWrite(bytesRead);
    if (status == security::kSslNoErr) continue;
    // A failure of the session (a fatal alert, a bad record) is what the socket ends with,
    // whenever the end comes; the ends of the stream are left to the read path as before.
    if (status != security::errSSLWouldBlock && status != security::errSSLClosedGraceful &&
        status != security::errSSLClosedAbort) {
      sslErrCode = status;
    }
    break;
  }
}

bool DispatchSocket::closeOnFlushedSSLFailure() {
  if (sslErrCode == 0 || sslErrCode == security::errSSLClosedGraceful ||
      sslErrCode == security::errSSLClosedAbort) {
    return false;
  }
  closeWithError(sslError(sslErrCode));
  return true;
}

void DispatchSocket::closeSSL() {
  endHandshakeTimer();
  if (_sslContext) {
    // The closing alert goes out while the descriptor is still open.
    _sslContext->close();
    _sslContext.reset();
  }
  sslPreBuffer.reset();
  sslWriteCachedLength = 0;
  sslErrCode = 0;
  currentTLSPacket_.reset();
}
