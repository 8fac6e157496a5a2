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

/// Room for one packet read from a TAP device: with offloads the kernel hands over TCP segments
/// of up to 64 KiB of IP packet behind their Ethernet header (and a VLAN tag), and without them
/// the largest frame a record of the client protocol carries (65536 bytes less its 32-byte
/// header) fits too, so nothing that could be relayed is cut.
inline constexpr std::size_t kTapFrameSlotSize = 65536 + 256;

/// What a TAP device with offloads left undone in a packet it handed over (the reader finishes
/// it), or what a writer asks the kernel to take a packet as: a TCP segment that stands for
/// several frames, and a checksum that is still to be computed.
struct TapOffload {
  enum class Segmentation : std::uint8_t {
    kNone,   ///< one frame
    kTcp4,   ///< a TCP segment over IPv4 to be cut into segments of segmentSize payload bytes
    kTcp6,   ///< the same over IPv6
    kOther,  ///< a kind this program never asks the kernel for (dropped by readers)
  };
  Segmentation segmentation = Segmentation::kNone;
  bool congestionNotice = false;   ///< the TCP segment carries ECN's CWR flag (first piece only)
  std::uint16_t segmentSize = 0;   ///< payload bytes per piece
  std::uint16_t headerLength = 0;  ///< on writes: bytes of the Ethernet, IP and TCP headers
  /// The checksum over the bytes from checksumStart to the end is still to be computed and stored
  /// at checksumStart + checksumOffset, where the pseudo-header's sum already stands.
  bool needsChecksum = false;
  std::uint16_t checksumStart = 0;
  std::uint16_t checksumOffset = 0;
};

/// How a TAP device is opened.
struct TapOptions {
  /// The kernel hands over unfinished checksums and TCP segments of up to 64 KiB (TapOffload)
  /// and takes them: far fewer reads and writes per byte than one frame at a time.
  bool offloads = false;
};

/// Frames read from a TAP device in one batch, each in a slot of kTapFrameSlotSize bytes of one
/// buffer that is allocated once and reused.
class TapFrameBatch {
 public:
  /// A batch of at most `capacity` frames (at least one).
  explicit TapFrameBatch(std::size_t capacity);

  std::size_t capacity() const { return lengths_.size(); }
  std::size_t size() const { return count_; }
  /// Frame `index` (below size()) as it was read: with offloads, a packet that offload(index)
  /// says what is still to be done with.
  std::span<const std::uint8_t> frame(std::size_t index) const;
  /// What is left to do with frame `index`; nothing without offloads.
  const TapOffload& offload(std::size_t index) const { return offloads_[index]; }

 private:
  friend class TapDevice;

  std::vector<std::uint8_t> buffer_;
  std::vector<std::size_t> lengths_;
  std::vector<TapOffload> offloads_;
  std::size_t count_ = 0;
};

/// How a read of a TAP device ended.
enum class TapReadResult {
  kFrames,  ///< at least one frame was read (or, from waitForFrames(), is ready)
  kWoken,   ///< wake() was called; no frame was read
  kFailed,  ///< the device failed (the message says how)
  kNone,    ///< readReadyFrames() found no frame ready
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
  /// With `options.offloads`, the device hands over and takes packets with offloads (TapOffload).
  static std::optional<TapDevice> open(std::string_view name, std::string* err,
                                       const TapOptions& options = {});

  /// The interface's name.
  const std::string& name() const { return name_; }

  /// The interface's Ethernet address as it is now (an administrator may change it); empty
  /// with a message in `err` when it cannot be read.
  std::optional<std::array<std::uint8_t, 6>> hardwareAddress(std::string* err) const;

  /// Waits until a frame is ready or wake() is called, then reads into `batch` every frame that
  /// is ready without waiting again, up to the batch's capacity. kFailed with a message in `err`
  /// when the device fails.
  TapReadResult readFrames(TapFrameBatch* batch, std::string* err);

  /// Waits until a frame is ready (kFrames; another thread may take it first) or wake() is
  /// called (kWoken), without reading; kFailed with a message in `err` when waiting fails.
  TapReadResult waitForFrames(std::string* err);

  /// Reads into `batch` every frame that is ready, up to its capacity, without waiting: kNone
  /// when none is, kFailed with a message in `err` when the device failed.
  TapReadResult readReadyFrames(TapFrameBatch* batch, std::string* err);

  /// Hands one frame to the interface; false with a message in `err` when the device refuses it
  /// (the interface is down, the frame is malformed or too short).
  [[nodiscard]] bool writeFrame(std::span<const std::uint8_t> frame, std::string* err);

  /// Hands one packet to the interface that `offload` describes (a TCP segment standing for
  /// several frames, a checksum left to the kernel); a device without offloads takes only plain
  /// frames. False with a message in `err` when the device refuses it.
  [[nodiscard]] bool writePacket(const TapOffload& offload, std::span<const std::uint8_t> packet,
                                 std::string* err);

  /// Whether the device was opened with offloads.
  bool hasOffloads() const;

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
