#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/FilterFile.h"
#include "panel/logic/HubCommandClient.h"

namespace korvane::panel {

/// Longest rule name and host name the panel takes, in bytes: the rule dialog's limit.
inline constexpr std::size_t kMaxRuleNameBytes = 128;
inline constexpr std::size_t kMaxRuleHostNameBytes = 128;

// The rules as the filter file holds them (common/FilterFile.h).
using common::FilterRule;
using common::FilterRuleKind;
using common::Ipv4Address;

/// The connection filter of one hub as the panel edits it: the rules of the hub's filter file
/// "%04d_hosts.ini" in order (the hub applies them in that order, the last match deciding).
/// Changes work on the list in memory and are remembered until save writes the whole file in the
/// format the hub reads. Another program (kvctl, a second panel) may write the file meanwhile:
/// save then applies the remembered changes to the rules the file holds now, under the folder
/// lock, so the other program's change is never undone. A refused change leaves the list as it
/// was.
class FilterModel {
 public:
  /// The rules of hub `hubNumber`'s filter file in `iniDirectory`, read as the hub reads them
  /// (sections that are no valid rule are left out); a missing file gives no rules.
  /// std::nullopt with a message in `err` when the file exists but cannot be read.
  static std::optional<FilterModel> open(const std::string& iniDirectory, int hubNumber,
                                         std::string* err);

  int hubNumber() const { return hubNumber_; }
  const std::string& path() const { return path_; }
  const std::vector<FilterRule>& rules() const { return rules_; }

  /// The rule named exactly `name`; nullptr when there is none.
  const FilterRule* find(std::string_view name) const;
  /// True when no rule has `name`, ASCII letters compared without case (as the file's reader
  /// compares section names).
  bool nameIsFree(std::string_view name) const;

  /// Appends `rule`. Refused with a message in `err` for a name that is empty, taken, longer
  /// than 128 bytes or not writable as a section name (a line break, a zero, ']', blanks at
  /// either end, text that is not UTF-8), and for a host name rule whose host name is empty,
  /// longer than 128 bytes or would not read back as itself (a line break, a zero, blanks at
  /// either end, enclosing quotes, text that is not UTF-8).
  [[nodiscard]] bool add(FilterRule rule, std::string* err);
  /// Puts `rule` in the place of the rule named `previousName`, keeping its position. Refused as
  /// add, for an unknown previous name, and for a name that another rule has.
  [[nodiscard]] bool replace(std::string_view previousName, FilterRule rule, std::string* err);
  /// Moves the rule named `name` one place up; the first rule stays where it is. Refused for an
  /// unknown name.
  [[nodiscard]] bool moveUp(std::string_view name, std::string* err);
  /// Moves the rule named `name` one place down; the last rule stays where it is. Refused for an
  /// unknown name.
  [[nodiscard]] bool moveDown(std::string_view name, std::string* err);
  /// Removes the rule named `name`. Refused for an unknown name.
  [[nodiscard]] bool remove(std::string_view name, std::string* err);

  /// Writes the whole filter file anew from the rules, in one piece. When the file differs from
  /// what the model last read or wrote, the changes made since are applied to the file's rules
  /// as they are now, and the list becomes the result. False with a message in `err` when the
  /// file cannot be read or written, or when a change no longer applies to the file's rules (a
  /// rule that another program removed or added under the same name); the file is then
  /// unchanged and the changes stay to be saved.
  [[nodiscard]] bool save(std::string* err);

  /// Tells the running hub that its filter changed: command 8 when `recheckClients` (the hub
  /// then checks its connected clients against it), else 7.
  HubDelivery tellHub(bool recheckClients, std::string* err,
                      const HubCommandClient& client = HubCommandClient()) const;

 private:
  FilterModel(std::string path, int hubNumber) : path_(std::move(path)), hubNumber_(hubNumber) {}

  // One change of the rules, refused with a message in `err` when it does not apply to them.
  using RuleChange = std::function<bool(std::vector<FilterRule>* rules, std::string* err)>;

  [[nodiscard]] bool reload(std::string* err);
  [[nodiscard]] bool change(RuleChange ruleChange, std::string* err);

  std::string path_;
  int hubNumber_ = 0;
  std::vector<FilterRule> rules_;
  // The file's content as the model last read or wrote it, and the changes made since.
  std::string fileText_;
  std::vector<RuleChange> pending_;
};

}  // namespace korvane::panel
