#include "sockets/runloop/RunLoopUdpSocketDelegate.h"

void RunLoopUdpSocketDelegate::onUdpSocketDidSendDataWithTag(
    const std::shared_ptr<RunLoopUdpSocket>&, long) {
  doesNotAnswer(kDidSendData);
}

void RunLoopUdpSocketDelegate::onUdpSocketDidNotSendDataWithTag(
    const std::shared_ptr<RunLoopUdpSocket>&, long, const platform::Error&) {
  doesNotAnswer(kDidNotSendData);
}

bool RunLoopUdpSocketDelegate::onUdpSocketDidReceiveData(const std::shared_ptr<RunLoopUdpSocket>&,
                                                         const SocketData&, long,
                                                         const std::string&, std::uint16_t) {
  doesNotAnswer(kDidReceiveData);
  return true;
}

void RunLoopUdpSocketDelegate::onUdpSocketDidNotReceiveDataWithTag(
    const std::shared_ptr<RunLoopUdpSocket>&, long, const platform::Error&) {
  doesNotAnswer(kDidNotReceiveData);
}

void RunLoopUdpSocketDelegate::onUdpSocketDidClose(const std::shared_ptr<RunLoopUdpSocket>&) {
  doesNotAnswer(kDidClose);
}
