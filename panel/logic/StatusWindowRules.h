#pragma once

#include <cstdint>
#include <string>

namespace korvane::panel {

/// The numbers of the resource library's strings and icons that the status window shows.
namespace text {
inline constexpr int kStatusTitlePart = 10;  ///< between the hub's name and its port
inline constexpr int kNoAccount = 13;        ///< account column of a client not logged in
inline constexpr int kHubDeleted = 14;
inline constexpr int kConnectionCountLabel = 17;
inline constexpr int kHubStopped = 49;
inline constexpr int kStatusWindowIcon = 110;
}  // namespace text

/// Where the bar between the connection list and the log pane starts, from the window's top.
inline constexpr int kSplitterStartTop = 250;
/// The bar's highest place: the list keeps room for its header and a row.
inline constexpr int kSplitterMinTop = 40;
/// The room the bar leaves below itself: the log pane keeps a few lines above the status bar.
inline constexpr int kSplitterBottomRoom = 60;

/// The top of the bar after a move to `top` in a window whose client area is `clientHeight`
/// high: at least kSplitterMinTop and at most clientHeight - kSplitterBottomRoom; in a window too
/// low for both, the log pane's room wins.
int clampSplitterTop(int top, int clientHeight);

/// The status window's title: the hub's name, `titlePart` (string 10) and "  (PortNo : PORT)".
std::string statusWindowTitle(const std::string& hubName, const std::string& titlePart, int port);

/// Gives each status window of this process an id for its notification pipe, unique on the
/// machine while the window lives: the process id (below 2^22, Linux's largest) in the low bits
/// and a counter from 1 in the bits above it, so it never meets `kvctl watch`, which uses its
/// bare process id, and stays a positive 32-bit number.
class WindowIdSource {
 public:
  /// How many windows get different ids before the counter starts again; the panel never has
  /// that many status windows open (there are at most 32 hubs, one window each).
  static constexpr std::uint32_t kCounterValues = 511;

  explicit WindowIdSource(std::uint32_t processId) : processId_(processId) {}

  /// The next id.
  std::uint32_t next();

 private:
  std::uint32_t processId_;
  std::uint32_t counter_ = 0;
};

}  // namespace korvane::panel
