#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

/// What the manager reads from the manager configuration file at start and on every reload: the
/// hub sections and whether each is switched on.
namespace korvane::common {

/// One hub section of the file.
struct HubSwitch {
  int number = 0;
  bool on = false;  ///< true only when Status is exactly "ON"; missing or any other value is off
};

/// Most hub processes the manager runs at one time: its hub table has 32 slots.
inline constexpr std::size_t kMaxRunningHubs = 32;

/// Every hub section of the file at `path`, in file order, with its switch, all from one reading
/// of the file; empty when the file is missing or holds no hub section. std::nullopt with
/// "cannot read PATH: reason" in `err` when the file exists but cannot be read or is refused
/// (not a regular file, too large), so the caller can keep what it runs.
std::optional<std::vector<HubSwitch>> readHubSwitches(const std::string& path, std::string* err);

/// The hubs the manager runs: those switched on, in file order, the first 32 of them;
/// std::nullopt as readHubSwitches.
std::optional<std::vector<int>> hubsToRun(const std::string& path, std::string* err);

}  // namespace korvane::common
