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

bool TcpPortConnection::waitWritable(std::chrono::milliseconds limit) {
  return connection_.waitWritable(limit);
}

void TcpPortConnection::shutdownBoth() {
  connection_.shutdownBoth();
}

void TcpPortConnection::close() {
  connection_.close();
}

}  // namespace korvane::hub
