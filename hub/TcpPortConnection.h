#pragma once

#include "hub/PortConnection.h"
#include "platform/TcpConnection.h"

namespace korvane::hub {

/// A port's stream over an accepted TCP connection.
class TcpPortConnection final : public PortConnection {
 public:
  explicit TcpPortConnection(platform::TcpConnection connection)
      : connection_(std::move(connection)) {}

  long receive(std::span<std::uint8_t> buffer) override;
  long trySend(std::span<const std::span<const std::uint8_t>> parts, int* error) override;
  void watchWritable(platform::Poller& poller, std::uint64_t key) override;
  void forget(platform::Poller& poller) override;
  void shutdownBoth() override;
  void close() override;

 private:
  platform::TcpConnection connection_;
};

}  // namespace korvane::hub
