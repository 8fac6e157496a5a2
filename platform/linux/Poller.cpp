#include "platform/Poller.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>

#include "platform/linux/Errno.h"

// Each connection is in the epoll set with EPOLLOUT and EPOLLONESHOT: a watch arms it, the
// report disarms it, so a stream with room is not reported again and again while its queue is
// empty. An eventfd in the set (key 0, level-triggered) wakes the waiter for posted keys.

namespace korvane::platform {
namespace {

constexpr std::uint64_t kWakeKey = 0;

// Reports one epoll_wait() call takes; more wait for the next call.
constexpr std::size_t kMaxEventsPerWait = 64;

int descriptorOf(std::intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

Poller::~Poller() {
  if (wake_ >= 0) {
    ::close(descriptorOf(wake_));
  }
  if (set_ >= 0) {
    ::close(descriptorOf(set_));
  }
}

bool Poller::open(std::string* err) {
  const int set = ::epoll_create1(EPOLL_CLOEXEC);
  if (set < 0) {
    return failWithErrno("epoll_create1", err);
  }
  set_ = set;
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    return failWithErrno("eventfd", err);
  }
  wake_ = wake;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWakeKey;
  if (::epoll_ctl(set, EPOLL_CTL_ADD, wake, &event) != 0) {
    return failWithErrno("epoll_ctl", err);
  }
  return true;
}

bool Poller::watchWritable(const TcpConnection& connection, std::uint64_t key) {
  const int fd = descriptorOf(connection.handle_);
  epoll_event event{};
  event.events = EPOLLOUT | EPOLLONESHOT;
  event.data.u64 = key;
  if (::epoll_ctl(descriptorOf(set_), EPOLL_CTL_MOD, fd, &event) == 0) {
    return true;
  }
  return errno == ENOENT && ::epoll_ctl(descriptorOf(set_), EPOLL_CTL_ADD, fd, &event) == 0;
}

void Poller::forget(const TcpConnection& connection) {
  if (connection.handle_ >= 0) {
    ::epoll_ctl(descriptorOf(set_), EPOLL_CTL_DEL, descriptorOf(connection.handle_), nullptr);
  }
}

void Poller::post(std::uint64_t key) {
  {
    const std::lock_guard lock(mutex_);
    posted_.push_back(key);
  }
  const std::uint64_t one = 1;
  (void)!::write(descriptorOf(wake_), &one, sizeof one);
}

std::size_t Poller::wait(std::span<std::uint64_t> ready, std::chrono::milliseconds limit) {
  std::size_t count = 0;
  {
    const std::lock_guard lock(mutex_);
    count = std::min(ready.size(), posted_.size());
    std::copy_n(posted_.begin(), count, ready.begin());
    posted_.erase(posted_.begin(), posted_.begin() + static_cast<std::ptrdiff_t>(count));
  }
  std::array<epoll_event, kMaxEventsPerWait> events;
  const int room = static_cast<int>(std::min(events.size(), ready.size() - count));
  if (room == 0) {
    return count;
  }
  const int found = ::epoll_wait(descriptorOf(set_), events.data(), room,
                                 count > 0 ? 0 : static_cast<int>(limit.count()));
  for (int i = 0; i < found; ++i) {
    if (events[i].data.u64 == kWakeKey) {
      std::uint64_t value = 0;
      (void)!::read(descriptorOf(wake_), &value, sizeof value);
      continue;
    }
    ready[count++] = events[i].data.u64;
  }
  return count;
}

}  // namespace korvane::platform
