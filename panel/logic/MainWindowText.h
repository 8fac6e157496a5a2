#pragma once

/// The numbers of the resource library's strings that the main window and the start-up show.
namespace korvane::panel::text {

inline constexpr int kStartWithoutPort = 1;
inline constexpr int kDeleteRunningHub = 2;
inline constexpr int kNewHubNameStem = 5;
inline constexpr int kPortNotSet = 7;
inline constexpr int kDeleteConfirmation = 15;
inline constexpr int kHubLimit = 16;  ///< a format with %d
inline constexpr int kHubCountLabel = 18;
inline constexpr int kLoading = 19;
inline constexpr int kPortTaken = 60;
inline constexpr int kNotAdministrator = 93;
inline constexpr int kFirewallQuestion = 100;
inline constexpr int kFirewallFailure = 101;  ///< a format with %d

/// Column headers of the hub list, left to right.
inline constexpr int kHubColumnHeaders[] = {33, 34, 35, 36, 37, 54};

inline constexpr int kStopped = 38;
inline constexpr int kRunning = 39;
inline constexpr int kOff = 40;
inline constexpr int kOn = 41;
inline constexpr int kMixed = 104;

}  // namespace korvane::panel::text
