#include "sockets/dispatch/DispatchSocketDelegate.h"

// Every default records that the delegate does not answer its call.

std::shared_ptr<platform::dispatch::Queue>
DispatchSocketDelegate::newSocketQueueForConnectionFromAddress(
    const platform::Bytes&, const std::shared_ptr<DispatchSocket>&) {
  doesNotAnswer(kNewSocketQueueForConnection);
  return nullptr;
}

void DispatchSocketDelegate::socketDidAcceptNewSocket(const std::shared_ptr<DispatchSocket>&,
                                                      const std::shared_ptr<DispatchSocket>&) {
  doesNotAnswer(kDidAcceptNewSocket);
}

void DispatchSocketDelegate::socketDidConnectToHost(const std::shared_ptr<DispatchSocket>&,
                                                    const std::string&, std::uint16_t) {
  doesNotAnswer(kDidConnectToHost);
}

void DispatchSocketDelegate::socketDidReadData(const std::shared_ptr<DispatchSocket>&,
                                               const SocketData&, long) {
  doesNotAnswer(kDidReadData);
}

void DispatchSocketDelegate::socketDidReadPartialDataOfLength(
    const std::shared_ptr<DispatchSocket>&, std::size_t, long) {
  doesNotAnswer(kDidReadPartialData);
}

std::optional<double> DispatchSocketDelegate::socketShouldTimeoutReadWithTag(
    const std::shared_ptr<DispatchSocket>&, long, double, std::size_t) {
  doesNotAnswer(kShouldTimeoutRead);
  return std::nullopt;
}

void DispatchSocketDelegate::socketDidWriteDataWithTag(const std::shared_ptr<DispatchSocket>&,
                                                       long) {
  doesNotAnswer(kDidWriteData);
}

void DispatchSocketDelegate::socketDidWritePartialDataOfLength(
    const std::shared_ptr<DispatchSocket>&, std::size_t, long) {
  doesNotAnswer(kDidWritePartialData);
}

std::optional<double> DispatchSocketDelegate::socketShouldTimeoutWriteWithTag(
    const std::shared_ptr<DispatchSocket>&, long, double, std::size_t) {
  doesNotAnswer(kShouldTimeoutWrite);
  return std::nullopt;
}

void DispatchSocketDelegate::socketDidCloseReadStream(const std::shared_ptr<DispatchSocket>&) {
  doesNotAnswer(kDidCloseReadStream);
}

void DispatchSocketDelegate::socketDidSecure(const std::shared_ptr<DispatchSocket>&) {
  doesNotAnswer(kDidSecure);
}

void DispatchSocketDelegate::socketDidDisconnect(const std::shared_ptr<DispatchSocket>&,
                                                 const std::optional<platform::Error>&) {
  doesNotAnswer(kDidDisconnect);
}
