#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "panel/logic/FilterModel.h"
#include "panel/logic/HubReloadSender.h"

namespace korvane::panel {

/// Commands of the filter window by number, as its menu names them.
enum class FilterCommand {
  kAdd = 143,
  kMoveUp = 144,
  kMoveDown = 145,
  kDelete = 147,
  kEdit = 146,
};

/// The commands of the filter window, each true when on.
struct FilterMenuState {
  bool add = true;
  bool edit = false;
  bool moveUp = false;
  bool moveDown = false;
  bool remove = false;

  bool operator==(const FilterMenuState&) const = default;
};

/// Add is always on; the commands that act on a rule only while one is selected.
FilterMenuState filterMenuState(bool ruleSelected);

/// One row of the rule list: the icon number, the rule name, what it matches (the host name, or
/// "address / mask") and the string number of its access column.
struct FilterRow {
  int icon = 0;
  std::string name;
  std::string match;
  int access = 0;

  bool operator==(const FilterRow&) const = default;
};

/// The row that shows `rule`.
FilterRow filterRow(const FilterRule& rule);

/// What the rule dialog holds: the rule's previous name (empty for a new rule), its name, how it
/// matches (the host name, or the address and mask as dotted text) and whether it allows.
struct RuleForm {
  std::string previousName;
  std::string name;
  bool byHostName = true;
  std::string hostName;
  std::string address;
  std::string mask;
  bool allow = false;
};

/// The dialog of a new rule: by host name, refusing.
RuleForm newRuleForm();
/// The dialog that edits `rule`.
RuleForm ruleFormOf(const FilterRule& rule);

/// The filter changes of one hub, made by the filter window and by kvctl alike: each change is
/// saved at once (the whole file rewritten) and the hub told to read it again.
class FilterEditor {
 public:
  /// An editor of `model`'s rules that tells the hub through `sender`, with command 8 (connected
  /// clients checked again) when `recheckClients`, else 7.
  FilterEditor(FilterModel& model, HubReloadSender sender, bool recheckClients = false)
      : model_(model), sender_(std::move(sender)), recheckClients_(recheckClients) {}

  /// Checks `form` in the dialog's order and saves it as a new rule or in the place of its
  /// previous name. False when refused, with the string to show in `refusal`: no name (69), no
  /// host name (152), an address or mask that is not dotted (196), a name another rule has
  /// (67), a name or host name the file cannot hold (195); or false with `refusal` 0 and a
  /// message in `err` when the file cannot be written. Nothing is written when refused.
  [[nodiscard]] bool submit(const RuleForm& form, int* refusal, std::string* err);

  /// Adds `rule` and saves. False with a message in `err` when refused or not written.
  [[nodiscard]] bool add(const FilterRule& rule, std::string* err);
  /// Puts `rule` in the place of rule `previousName` and saves.
  [[nodiscard]] bool replace(std::string_view previousName, const FilterRule& rule,
                             std::string* err);
  /// Moves rule `name` one place up and saves; the first rule stays.
  [[nodiscard]] bool moveUp(std::string_view name, std::string* err);
  /// Moves rule `name` one place down and saves; the last rule stays.
  [[nodiscard]] bool moveDown(std::string_view name, std::string* err);
  /// Deletes rule `name` and saves.
  [[nodiscard]] bool remove(std::string_view name, std::string* err);

  /// What became of the last command sent to the hub.
  const ReloadReport& lastReload() const { return lastReload_; }

 private:
  // Applies `form` to the model; the string that refuses it.
  std::optional<int> applyForm(const RuleForm& form);
  // Saves after a change the model took, and tells the hub.
  [[nodiscard]] bool saveAndTell(bool changed, std::string* err);
  // The rule name `name` is another rule's than `previousName`'s.
  bool nameTakenByOther(std::string_view previousName, std::string_view name) const;

  FilterModel& model_;
  HubReloadSender sender_;
  bool recheckClients_ = false;
  ReloadReport lastReload_;
};

}  // namespace korvane::panel
