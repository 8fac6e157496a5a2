#include "platform/TapDevice.h"

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
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
  int wake = -1;  // an eventfd, written once by wake() and never drained

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
      lengths_(std::max<std::size_t>(capacity, 1)) {}

std::span<const std::uint8_t> TapFrameBatch::frame(std::size_t index) const {
  assert(index < count_ && "frame index beyond the batch");
  return std::span(buffer_).subspan(index * kTapFrameSlotSize, lengths_[index]);
}

TapDevice::TapDevice(std::unique_ptr<Handles> handles, std::string name)
    : handles_(std::move(handles)), name_(std::move(name)) {}
TapDevice::TapDevice(TapDevice&& other) noexcept = default;
TapDevice& TapDevice::operator=(TapDevice&& other) noexcept = default;
TapDevice::~TapDevice() = default;

std::optional<TapDevice> TapDevice::open(std::string_view name, std::string* err) {
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
  request.ifr_flags = IFF_TAP | IFF_NO_PI;
  if (::ioctl(handles->tap, TUNSETIFF, &request) != 0) {
    failWithErrno("TUNSETIFF " + text, err);
    return std::nullopt;
  }
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
  batch->count_ = 0;
  for (;;) {
    bool woken = false;
    if (!waitForFrame(handles_->tap, handles_->wake, &woken, err)) {
      return woken ? TapReadResult::kWoken : TapReadResult::kFailed;
    }
    while (batch->count_ < batch->capacity()) {
      std::uint8_t* slot = batch->buffer_.data() + batch->count_ * kTapFrameSlotSize;
      const ssize_t length = ::read(handles_->tap, slot, kTapFrameSlotSize);
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
    if (batch->count_ > 0) {
      return TapReadResult::kFrames;
    }
  }
}

bool TapDevice::writeFrame(std::span<const std::uint8_t> frame, std::string* err) {
  for (;;) {
    const ssize_t written = ::write(handles_->tap, frame.data(), frame.size());
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
