#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

namespace korvane::common {

/// Where a thread is, for the report of its catch-all: its name, which it may change when it
/// changes what it does, and the last progress marker it passed. Only its own thread touches it.
class ThreadProgress {
 public:
  explicit ThreadProgress(std::string_view name) : name_(name) {}

  std::string_view name() const { return name_; }
  void rename(std::string_view name) { name_ = name; }

  /// Notes that the thread passed `phase` (an enumerator whose value is the marker's number).
  template <typename Phase>
  void mark(Phase phase) {
    step_ = static_cast<int>(phase);
  }
  /// The last marker passed; std::nullopt for a thread that keeps none.
  std::optional<int> step() const { return step_; }

 private:
  std::string_view name_;
  std::optional<int> step_;
};

/// What a thread's catch-all reports when an exception escaped the thread's body.
struct ThreadFailure {
  std::string_view thread;  ///< the thread's name
  std::string_view what;    ///< the exception's text; "Cannot handle" for one of another type
  std::optional<int> step;  ///< the last progress marker, for a thread that keeps them
};

/// What a program does with a thread's failure: logs it, and may end the process.
using ThreadFailureHandler = std::function<void(const ThreadFailure&)>;

namespace detail {

inline void reportThreadFailure(const ThreadFailureHandler& onFailure,
                                const ThreadFailure& failure) noexcept {
  if (!onFailure) {
    return;
  }
  try {
    onFailure(failure);
  } catch (...) {
    // A handler that fails itself has nobody left to tell; the thread ends all the same.
  }
}

}  // namespace detail

/// Runs `body` as the entry of a thread that reports to `progress`: an exception that escapes
/// it goes to `onFailure`, and then the thread ends normally. No exception leaves.
template <typename Body>
void runThread(ThreadProgress& progress, Body&& body,
               const ThreadFailureHandler& onFailure) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (const std::exception& e) {
    detail::reportThreadFailure(onFailure, {progress.name(), e.what(), progress.step()});
  } catch (...) {
    detail::reportThreadFailure(onFailure, {progress.name(), "Cannot handle", progress.step()});
  }
}

/// runThread() for a thread named `name` that keeps no progress markers.
template <typename Body>
void runThread(std::string_view name, Body&& body, const ThreadFailureHandler& onFailure) noexcept {
  ThreadProgress progress(name);
  runThread(progress, std::forward<Body>(body), onFailure);
}

}  // namespace korvane::common
