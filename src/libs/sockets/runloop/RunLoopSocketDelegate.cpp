#include "sockets/runloop/RunLoopSocketDelegate.h"

void RunLoopSocketDelegate::onSocketDidAcceptNewSocket(const std::shared_ptr<RunLoopSocket>&,
                                                       const std::shared_ptr<RunLoopSocket>&) {
  doesNotAnswer(kDidAcceptNewSocket);
}

std::shared_ptr<platform::RunLoop> RunLoopSocketDelegate::onSocketWantsRunLoopForNewSocket(
    const std::shared_ptr<RunLoopSocket>&, const std::shared_ptr<RunLoopSocket>&) {
  doesNotAnswer(kWantsRunLoopForNewSocket);
  return nullptr;
}

bool RunLoopSocketDelegate::onSocketWillConnect(const std::shared_ptr<RunLoopSocket>&) {
  doesNotAnswer(kWillConnect);
  return true;
}

void RunLoopSocketDelegate::onSocketDidConnectToHost(const std::shared_ptr<RunLoopSocket>&,
                                                     const std::string&, std::uint16_t) {
  doesNotAnswer(kDidConnectToHost);
}

void RunLoopSocketDelegate::onSocketWillDisconnectWithError(const std::shared_ptr<RunLoopSocket>&,
                                                            const std::optional<platform::Error>&) {
  doesNotAnswer(kWillDisconnectWithError);
}

void RunLoopSocketDelegate::onSocketDidDisconnect(const std::shared_ptr<RunLoopSocket>&) {
  doesNotAnswer(kDidDisconnect);
}

void RunLoopSocketDelegate::onSocketDidReadData(const std::shared_ptr<RunLoopSocket>&,
                                                const SocketData&, long) {
  doesNotAnswer(kDidReadData);
}

void RunLoopSocketDelegate::onSocketDidReadPartialDataOfLength(
    const std::shared_ptr<RunLoopSocket>&, std::size_t, long) {
  doesNotAnswer(kDidReadPartialData);
}

void RunLoopSocketDelegate::onSocketDidWriteDataWithTag(const std::shared_ptr<RunLoopSocket>&,
                                                        long) {
  doesNotAnswer(kDidWriteData);
}

void RunLoopSocketDelegate::onSocketDidWritePartialDataOfLength(
    const std::shared_ptr<RunLoopSocket>&, std::size_t, long) {
  doesNotAnswer(kDidWritePartialData);
}

double RunLoopSocketDelegate::onSocketShouldTimeoutReadWithTag(
    const std::shared_ptr<RunLoopSocket>&, long, double, std::size_t) {
  doesNotAnswer(kShouldTimeoutRead);
  return 0;
}

double RunLoopSocketDelegate::onSocketShouldTimeoutWriteWithTag(
    const std::shared_ptr<RunLoopSocket>&, long, double, std::size_t) {
  doesNotAnswer(kShouldTimeoutWrite);
  return 0;
}

void RunLoopSocketDelegate::onSocketDidSecure(const std::shared_ptr<RunLoopSocket>&) {
  doesNotAnswer(kDidSecure);
}
