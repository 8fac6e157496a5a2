#include "hub/TcpPortConnection.h"

#include <cerrno>

namespace korvane::hub {

long TcpPortConnection::receive(std::span<std::uint8_t> buffer) {
  return connection_.receive(buffer);
}

long TcpPortConnection::trySend(std::span<const std::span<const std::uint8_t>> parts, int* error) {
  const long sent = connection_.trySend(parts);
  if (sent < 0) {
    // The failed sendmsg() left its errno behind; it is the number the send error line shows.
    *error = errno;
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
