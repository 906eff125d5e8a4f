#include "sockets/dispatch/DispatchUdpSocketDelegate.h"

// Every default records that the delegate does not answer its call.

void DispatchUdpSocketDelegate::udpSocketDidConnectToAddress(
    const std::shared_ptr<DispatchUdpSocket>&, const platform::Bytes&) {
  doesNotAnswer(kDidConnectToAddress);
}

void DispatchUdpSocketDelegate::udpSocketDidNotConnect(const std::shared_ptr<DispatchUdpSocket>&,
                                                       const platform::Error&) {
  doesNotAnswer(kDidNotConnect);
}

void DispatchUdpSocketDelegate::udpSocketDidSendDataWithTag(
    const std::shared_ptr<DispatchUdpSocket>&, long) {
  doesNotAnswer(kDidSendData);
}

void DispatchUdpSocketDelegate::udpSocketDidNotSendDataWithTag(
    const std::shared_ptr<DispatchUdpSocket>&, long, const platform::Error&) {
  doesNotAnswer(kDidNotSendData);
}

void DispatchUdpSocketDelegate::udpSocketDidReceiveData(const std::shared_ptr<DispatchUdpSocket>&,
                                                        const platform::Bytes&,
                                                        const platform::Bytes&,
                                                        const std::shared_ptr<void>&) {
  doesNotAnswer(kDidReceiveData);
}

void DispatchUdpSocketDelegate::udpSocketDidClose(const std::shared_ptr<DispatchUdpSocket>&,
                                                  const std::optional<platform::Error>&) {
  doesNotAnswer(kDidClose);
}
