#include "platform/TapDevice.h"

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/linux/Errno.h"

namespace korvane::platform {
namespace {

// The clone device through which a process opens or creates TUN and TAP interfaces.
constexpr const char* kCloneDevice = "/dev/net/tun";

// What a device with offloads takes from the kernel: unfinished checksums and TCP segments over
// IPv4 and IPv6, with or without ECN. No UDP: the kernel cuts those itself.
constexpr unsigned kOffloadFeatures = TUN_F_CSUM | TUN_F_TSO4 | TUN_F_TSO6 | TUN_F_TSO_ECN;

// The header in front of every packet of a device with offloads (the kernel's virtio-net
// header, <linux/virtio_net.h>, which C++ cannot include: it names a field "class"), in its
// default size and, on this little-endian machine, the native byte order.
struct VnetHeader {
  std::uint8_t flags;
  std::uint8_t gso_type;
  std::uint16_t hdr_len;
  std::uint16_t gso_size;
  std::uint16_t csum_start;
  std::uint16_t csum_offset;
};
static_assert(sizeof(VnetHeader) == 10);
constexpr std::uint8_t VIRTIO_NET_HDR_F_NEEDS_CSUM = 1;
constexpr std::uint8_t VIRTIO_NET_HDR_GSO_NONE = 0;
constexpr std::uint8_t VIRTIO_NET_HDR_GSO_TCPV4 = 1;
constexpr std::uint8_t VIRTIO_NET_HDR_GSO_TCPV6 = 4;
constexpr std::uint8_t VIRTIO_NET_HDR_GSO_ECN = 0x80;

TapOffload offloadOf(const VnetHeader& header) {
  TapOffload offload;
  switch (header.gso_type & ~VIRTIO_NET_HDR_GSO_ECN) {
    case VIRTIO_NET_HDR_GSO_NONE:
      break;
    case VIRTIO_NET_HDR_GSO_TCPV4:
      offload.segmentation = TapOffload::Segmentation::kTcp4;
      break;
    case VIRTIO_NET_HDR_GSO_TCPV6:
      offload.segmentation = TapOffload::Segmentation::kTcp6;
      break;
    default:
      offload.segmentation = TapOffload::Segmentation::kOther;
      break;
  }
  offload.congestionNotice = (header.gso_type & VIRTIO_NET_HDR_GSO_ECN) != 0;
  offload.segmentSize = header.gso_size;
  offload.headerLength = header.hdr_len;
  offload.needsChecksum = (header.flags & VIRTIO_NET_HDR_F_NEEDS_CSUM) != 0;
  offload.checksumStart = header.csum_start;
  offload.checksumOffset = header.csum_offset;
  return offload;
}

VnetHeader headerOf(const TapOffload& offload) {
  VnetHeader header{};
  switch (offload.segmentation) {
    case TapOffload::Segmentation::kTcp4:
      header.gso_type = VIRTIO_NET_HDR_GSO_TCPV4;
      break;
    case TapOffload::Segmentation::kTcp6:
      header.gso_type = VIRTIO_NET_HDR_GSO_TCPV6;
      break;
    default:
      header.gso_type = VIRTIO_NET_HDR_GSO_NONE;
      break;
  }
  if (offload.congestionNotice && header.gso_type != VIRTIO_NET_HDR_GSO_NONE) {
    header.gso_type |= VIRTIO_NET_HDR_GSO_ECN;
  }
  header.gso_size = offload.segmentSize;
  header.hdr_len = offload.headerLength;
  if (offload.needsChecksum) {
    header.flags = VIRTIO_NET_HDR_F_NEEDS_CSUM;
    header.csum_start = offload.checksumStart;
    header.csum_offset = offload.checksumOffset;
  }
  return header;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

/// A request for interface `name`, cut to the room the kernel gives names, zero-terminated.
ifreq requestFor(std::string_view name) {
  ifreq request{};
  std::memcpy(request.ifr_name, name.data(), std::min<std::size_t>(name.size(), IFNAMSIZ - 1));
  return request;
}

/// Sets IFF_UP on interface `name`, through a datagram socket as ip(8) does.
bool bringUp(const char* name, std::string* err) {
  const Descriptor control(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (control.get() < 0) {
    return failWithErrno("socket", err);
  }
  ifreq request = requestFor(name);
  if (::ioctl(control.get(), SIOCGIFFLAGS, &request) != 0) {
    return failWithErrno(std::string("SIOCGIFFLAGS ") + name, err);
  }
  if ((request.ifr_flags & IFF_UP) != 0) {
    return true;
  }
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  if (::ioctl(control.get(), SIOCSIFFLAGS, &request) != 0) {
    return failWithErrno(std::string("SIOCSIFFLAGS ") + name, err);
  }
  return true;
}

/// Waits until `tap` is readable (true) or `wake` is signalled or polling fails (false).
bool waitForFrame(int tap, int wake, bool* woken, std::string* err) {
  for (;;) {
    std::array<pollfd, 2> fds = {pollfd{tap, POLLIN, 0}, pollfd{wake, POLLIN, 0}};
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return failWithErrno("poll", err);
    }
    if ((fds[1].revents & POLLIN) != 0) {
      *woken = true;
      return false;
    }
    if (fds[0].revents != 0) {
      return true;  // a frame, or an error that the read reports
    }
  }
}

}  // namespace

struct TapDevice::Handles {
  int tap = -1;
  int wake = -1;          // an eventfd, written once by wake() and never drained
  bool offloads = false;  // every packet read and written has a VnetHeader in front

  ~Handles() {
    if (tap >= 0) {
      ::close(tap);
    }
    if (wake >= 0) {
      ::close(wake);
    }
  }
};

TapFrameBatch::TapFrameBatch(std::size_t capacity)
    : buffer_(std::max<std::size_t>(capacity, 1) * kTapFrameSlotSize),
      lengths_(std::max<std::size_t>(capacity, 1)),
      offloads_(std::max<std::size_t>(capacity, 1)) {}

std::span<const std::uint8_t> TapFrameBatch::frame(std::size_t index) const {
  assert(index < count_ && "frame index beyond the batch");
  return std::span(buffer_).subspan(index * kTapFrameSlotSize, lengths_[index]);
}

TapDevice::TapDevice(std::unique_ptr<Handles> handles, std::string name)
    : handles_(std::move(handles)), name_(std::move(name)) {}
TapDevice::TapDevice(TapDevice&& other) noexcept = default;
TapDevice& TapDevice::operator=(TapDevice&& other) noexcept = default;
TapDevice::~TapDevice() = default;

std::optional<TapDevice> TapDevice::open(std::string_view name, std::string* err,
                                         const TapOptions& options) {
  const std::string text(name);
  if (text.empty() || text.size() >= IFNAMSIZ) {
    fail(err,
         "bad interface name '" + text + "': 1 to " + std::to_string(IFNAMSIZ - 1) + " characters");
    return std::nullopt;
  }
  auto handles = std::make_unique<Handles>();
  handles->tap = ::open(kCloneDevice, O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (handles->tap < 0) {
    failWithErrno(std::string("open ") + kCloneDevice, err);
    return std::nullopt;
  }
  ifreq request = requestFor(text);
  request.ifr_flags = IFF_TAP | IFF_NO_PI | (options.offloads ? IFF_VNET_HDR : 0);
  if (::ioctl(handles->tap, TUNSETIFF, &request) != 0) {
    failWithErrno("TUNSETIFF " + text, err);
    return std::nullopt;
  }
  if (options.offloads && ::ioctl(handles->tap, TUNSETOFFLOAD, kOffloadFeatures) != 0) {
    failWithErrno("TUNSETOFFLOAD " + text, err);
    return std::nullopt;
  }
  handles->offloads = options.offloads;
  handles->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (handles->wake < 0) {
    failWithErrno("eventfd", err);
    return std::nullopt;
  }
  if (!bringUp(request.ifr_name, err)) {
    return std::nullopt;
  }
  return TapDevice(std::move(handles), request.ifr_name);
}

std::optional<std::array<std::uint8_t, 6>> TapDevice::hardwareAddress(std::string* err) const {
  // Asked of the device's own descriptor, not by name through a socket: the name means this
  // device only in the namespace where it lives, which need not be the caller's.
  ifreq request = requestFor(name_);
  if (::ioctl(handles_->tap, SIOCGIFHWADDR, &request) != 0) {
    failWithErrno("SIOCGIFHWADDR " + name_, err);
    return std::nullopt;
  }
  std::array<std::uint8_t, 6> address{};
  std::memcpy(address.data(), request.ifr_hwaddr.sa_data, address.size());
  return address;
}

TapReadResult TapDevice::readFrames(TapFrameBatch* batch, std::string* err) {
  for (;;) {
    const TapReadResult waited = waitForFrames(err);
    if (waited != TapReadResult::kFrames) {
      return waited;
    }
    const TapReadResult read = readReadyFrames(batch, err);
    if (read != TapReadResult::kNone) {
      return read;
    }
  }
}

TapReadResult TapDevice::waitForFrames(std::string* err) {
  bool woken = false;
  if (!waitForFrame(handles_->tap, handles_->wake, &woken, err)) {
    return woken ? TapReadResult::kWoken : TapReadResult::kFailed;
  }
  return TapReadResult::kFrames;
}

TapReadResult TapDevice::readReadyFrames(TapFrameBatch* batch, std::string* err) {
  batch->count_ = 0;
  while (batch->count_ < batch->capacity()) {
    std::uint8_t* slot = batch->buffer_.data() + batch->count_ * kTapFrameSlotSize;
    VnetHeader header{};
    std::array<iovec, 2> parts = {iovec{&header, sizeof header}, iovec{slot, kTapFrameSlotSize}};
    const bool offloads = handles_->offloads;
    ssize_t length = offloads ? ::readv(handles_->tap, parts.data(), 2)
                              : ::read(handles_->tap, slot, kTapFrameSlotSize);
    if (offloads && length > 0) {
      if (length <= static_cast<ssize_t>(sizeof header)) {
        continue;  // a header without a frame carries nothing to relay
      }
      length -= static_cast<ssize_t>(sizeof header);
      batch->offloads_[batch->count_] = offloadOf(header);
    }
    if (length > 0) {
      batch->lengths_[batch->count_++] = static_cast<std::size_t>(length);
      continue;
    }
    if (length < 0 && errno == EINTR) {
      continue;
    }
    if (length == 0 && batch->count_ == 0) {
      fail(err, "read " + name_ + ": the device ended");
      return TapReadResult::kFailed;
    }
    if (length < 0 && errno != EAGAIN && batch->count_ == 0) {
      failWithErrno("read " + name_, err);
      return TapReadResult::kFailed;
    }
    break;  // nothing more is ready; a failure after some frames shows on the next read
  }
  return batch->count_ > 0 ? TapReadResult::kFrames : TapReadResult::kNone;
}

bool TapDevice::writeFrame(std::span<const std::uint8_t> frame, std::string* err) {
  return writePacket(TapOffload{}, frame, err);
}

bool TapDevice::hasOffloads() const {
  return handles_->offloads;
}

bool TapDevice::writePacket(const TapOffload& offload, std::span<const std::uint8_t> packet,
                            std::string* err) {
  const bool plain =
      offload.segmentation == TapOffload::Segmentation::kNone && !offload.needsChecksum;
  if (!handles_->offloads && !plain) {
    fail(err, "write " + name_ + ": the device was opened without offloads");
    return false;
  }
  VnetHeader header = headerOf(offload);
  std::array<iovec, 2> parts = {iovec{&header, sizeof header},
                                iovec{const_cast<std::uint8_t*>(packet.data()), packet.size()}};
  for (;;) {
    const ssize_t written = handles_->offloads
                                ? ::writev(handles_->tap, parts.data(), 2)
                                : ::write(handles_->tap, packet.data(), packet.size());
    if (written >= 0) {
      return true;  // the device takes a frame whole or not at all
    }
    if (errno != EINTR) {
      return failWithErrno("write " + name_, err);
    }
  }
}

void TapDevice::wake() {
  const std::uint64_t one = 1;
  (void)!::write(handles_->wake, &one, sizeof one);
}

}  // namespace korvane::platform
