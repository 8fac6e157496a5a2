#include "hub/TcpPortConnection.h"

namespace korvane::hub {

long TcpPortConnection::receive(std::span<std::uint8_t> buffer) {
  return connection_.receive(buffer);
}

long TcpPortConnection::trySend(std::span<const std::span<const std::uint8_t>> parts, int* error) {
  platform::SystemError failure;
  const long sent = connection_.trySend(parts, &failure);
  if (sent < 0) {
    *error = failure.code;  // the number the send error line shows
  }
  return sent;
}

void TcpPortConnection::watchWritable(platform::Poller& poller, std::uint64_t key) {
  if (!poller.watchWritable(connection_, key)) {
    // The set cannot take it: ending the stream makes the next send fail, which the queue reports
    // and which ends the port, rather than leaving its queue waiting for a report never coming.
    connection_.shutdownBoth();
    poller.post(key);
  }
}

void TcpPortConnection::forget(platform::Poller& poller) {
  poller.forget(connection_);
}

void TcpPortConnection::shutdownBoth() {
  connection_.shutdownBoth();
}

void TcpPortConnection::close() {
  connection_.close();
}

}  // namespace korvane::hub
