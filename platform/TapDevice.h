#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::platform {

/// Room for one frame read from a TAP device: the largest frame a record of the client protocol
/// carries (65536 bytes less its 32-byte header) fits, so no frame that could be relayed is cut.
inline constexpr std::size_t kTapFrameSlotSize = 65536 - 32;

/// Frames read from a TAP device in one batch, each in a slot of kTapFrameSlotSize bytes of one
/// buffer that is allocated once and reused.
class TapFrameBatch {
 public:
  /// A batch of at most `capacity` frames (at least one).
  explicit TapFrameBatch(std::size_t capacity);

  std::size_t capacity() const { return lengths_.size(); }
  std::size_t size() const { return count_; }
  /// Frame `index` (below size()) as it was read.
  std::span<const std::uint8_t> frame(std::size_t index) const;

 private:
  friend class TapDevice;

  std::vector<std::uint8_t> buffer_;
  std::vector<std::size_t> lengths_;
  std::size_t count_ = 0;
};

/// How a read of a TAP device ended.
enum class TapReadResult {
  kFrames,  ///< at least one frame was read
  kWoken,   ///< wake() was called; no frame was read
  kFailed,  ///< the device failed (the message says how)
};

/// A TAP device (an Ethernet interface whose frames a program reads and writes), opened by name
/// and brought up. One thread may block in readFrames() while another writes frames or calls
/// wake().
class TapDevice {
 public:
  TapDevice(TapDevice&& other) noexcept;
  TapDevice& operator=(TapDevice&& other) noexcept;
  TapDevice(const TapDevice&) = delete;
  TapDevice& operator=(const TapDevice&) = delete;
  ~TapDevice();

  /// Opens the TAP device `name`, creating it when it does not exist (it then goes when the
  /// device is closed), and brings its interface up. Empty with a message in `err` ("TUNSETIFF
  /// tap0: Operation not permitted") when the name is too long or taken by another kind of
  /// interface, or the process may not manage interfaces.
  static std::optional<TapDevice> open(std::string_view name, std::string* err);

  /// The interface's name.
  const std::string& name() const { return name_; }

  /// The interface's Ethernet address as it is now (an administrator may change it); empty
  /// with a message in `err` when it cannot be read.
  std::optional<std::array<std::uint8_t, 6>> hardwareAddress(std::string* err) const;

  /// Waits until a frame is ready or wake() is called, then reads into `batch` every frame that
  /// is ready without waiting again, up to the batch's capacity. kFailed with a message in `err`
  /// when the device fails.
  TapReadResult readFrames(TapFrameBatch* batch, std::string* err);

  /// Hands one frame to the interface; false with a message in `err` when the device refuses it
  /// (the interface is down, the frame is malformed or too short).
  [[nodiscard]] bool writeFrame(std::span<const std::uint8_t> frame, std::string* err);

  /// Wakes a reader blocked in readFrames() and makes every later read return kWoken at once.
  /// Safe from any thread.
  void wake();

 private:
  struct Handles;
  explicit TapDevice(std::unique_ptr<Handles> handles, std::string name);

  std::unique_ptr<Handles> handles_;
  std::string name_;
};

}  // namespace korvane::platform
