#pragma once

/// Which hub commands of the main window are on for the hub list's selection, and which part of
/// the menu its context menu shows.
namespace korvane::panel {

/// What the hub list's selection is.
enum class HubSelection { kNone, kStopped, kRunning };

/// Commands of the main window by number, as its menu names them.
enum class MainCommand {
  kNewHub = 40001,
  kStart = 40002,
  kStop = 40003,
  kDelete = 40004,
  kSettings = 40005,
  kAccounts = 40006,
  kStatus = 40007,
  kFilter = 141,
  kRegistration = 40014,
  kHelp = 127,
  kAbout = 128,
  kEnglish = 162,
  kJapanese = 163,
};

/// The hub commands that depend on the selection; each true when it is on.
struct HubCommandStates {
  bool start = false;
  bool stop = false;
  bool remove = false;
  bool settings = false;
  bool filter = false;
  bool accounts = false;
  bool status = false;

  bool operator==(const HubCommandStates&) const = default;
};

/// Nothing selected greys every hub command; a stopped hub may be started, deleted, set up and
/// filtered but has no status to show; a running hub may be stopped, set up, given accounts and
/// watched, but neither deleted nor filtered while it runs.
HubCommandStates hubCommandStates(HubSelection selection);

/// The menu bar's sub-menu that the hub list's context menu shows: the hub commands (1) over a
/// selected hub, the list's commands (0) otherwise.
int contextSubMenu(HubSelection selection);

}  // namespace korvane::panel
