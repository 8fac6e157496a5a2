#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korvane::platform {

/// An IPv4 UDP socket for request-and-answer exchanges such as service discovery. Addresses are
/// in host byte order.
class UdpSocket {
 public:
  UdpSocket() = default;
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  ~UdpSocket();

  /// A socket bound to `localAddress` (0 for any) and a port the system chooses; empty with a
  /// message in `err`.
  static std::optional<UdpSocket> open(std::uint32_t localAddress, std::string* err);

  /// Sends multicast datagrams out of the adapter with `address` from now on; a machine without
  /// a route for the group can then still send to it. False with a message in `err`.
  [[nodiscard]] bool setMulticastInterface(std::uint32_t address, std::string* err);

  /// Sends one datagram to `address`:`port`. False with a message in `err`.
  [[nodiscard]] bool sendTo(std::uint32_t address, int port, std::span<const std::uint8_t> data,
                            std::string* err);

  /// What receive() found.
  enum class Received { kDatagram, kTimedOut, kFailed };

  /// Waits at most `limit` for one datagram and copies at most `buffer.size()` bytes of it
  /// (the rest is dropped); their count in `size`. kFailed with a message in `err`.
  Received receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit,
                   std::size_t* size, std::string* err);

 private:
  explicit UdpSocket(int handle) : handle_(handle) {}
  void close();

  int handle_ = -1;
};

}  // namespace korvane::platform
