#include "panel/logic/FilterEditor.h"

#include "common/DottedAddress.h"
#include "panel/logic/EditWindowText.h"
#include "platform/ProfileText.h"

namespace korvane::panel {

FilterMenuState filterMenuState(bool ruleSelected) {
  FilterMenuState state;
  state.edit = state.moveUp = state.moveDown = state.remove = ruleSelected;
  return state;
}

FilterRow filterRow(const FilterRule& rule) {
  FilterRow row;
  row.icon = rule.allow ? icon::kRuleAllows : icon::kRuleRefuses;
  row.name = rule.name;
  row.match =
      rule.kind == FilterRuleKind::kHostName
          ? rule.hostName
          : common::formatIpv4Address(rule.address) + " / " + common::formatIpv4Address(rule.mask);
  row.access = rule.allow ? text::kAllowed : text::kNotAllowed;
  return row;
}

RuleForm newRuleForm() {
  return RuleForm{};
}

RuleForm ruleFormOf(const FilterRule& rule) {
  RuleForm form;
  form.previousName = rule.name;
  form.name = rule.name;
  form.byHostName = rule.kind == FilterRuleKind::kHostName;
  if (form.byHostName) {
    form.hostName = rule.hostName;
  } else {
    form.address = common::formatIpv4Address(rule.address);
    form.mask = common::formatIpv4Address(rule.mask);
  }
  form.allow = rule.allow;
  return form;
}

bool FilterEditor::submit(const RuleForm& form, int* refusal, std::string* err) {
  *refusal = 0;
  const std::optional<int> message = applyForm(form);
  if (message) {
    *refusal = *message;
    return false;
  }
  return saveAndTell(true, err);
}

std::optional<int> FilterEditor::applyForm(const RuleForm& form) {
  if (form.name.empty()) {
    return text::kEnterRuleName;
  }
  FilterRule rule;
  rule.name = form.name;
  rule.allow = form.allow;
  if (form.byHostName) {
    if (form.hostName.empty()) {
      return text::kEnterHostName;
    }
    rule.kind = FilterRuleKind::kHostName;
    rule.hostName = form.hostName;
  } else {
    const auto address = common::parseDottedQuad(form.address);
    const auto mask = common::parseDottedQuad(form.mask);
    if (!address || !mask) {
      return text::kBadRuleAddress;
    }
    rule.kind = FilterRuleKind::kAddress;
    rule.address = *address;
    rule.mask = *mask;
  }
  if (nameTakenByOther(form.previousName, form.name)) {
    return text::kRuleNameTaken;
  }
  // What the model refuses beyond that is text the filter file cannot hold as it is.
  std::string refusal;
  const bool changed = form.previousName.empty()
                           ? model_.add(rule, &refusal)
                           : model_.replace(form.previousName, rule, &refusal);
  if (!changed) {
    return text::kRuleNotWritable;
  }
  return std::nullopt;
}

bool FilterEditor::add(const FilterRule& rule, std::string* err) {
  return saveAndTell(model_.add(rule, err), err);
}

bool FilterEditor::replace(std::string_view previousName, const FilterRule& rule,
                           std::string* err) {
  return saveAndTell(model_.replace(previousName, rule, err), err);
}

bool FilterEditor::moveUp(std::string_view name, std::string* err) {
  return saveAndTell(model_.moveUp(name, err), err);
}

bool FilterEditor::moveDown(std::string_view name, std::string* err) {
  return saveAndTell(model_.moveDown(name, err), err);
}

bool FilterEditor::remove(std::string_view name, std::string* err) {
  return saveAndTell(model_.remove(name, err), err);
}

bool FilterEditor::saveAndTell(bool changed, std::string* err) {
  if (!changed || !model_.save(err)) {
    return false;
  }
  lastReload_.err.clear();
  lastReload_.delivery = sender_(filterReload(recheckClients_), &lastReload_.err);
  return true;
}

bool FilterEditor::nameTakenByOther(std::string_view previousName, std::string_view name) const {
  if (!previousName.empty() && platform::profile::sameName(previousName, name)) {
    return false;
  }
  return !model_.nameIsFree(name);
}

}  // namespace korvane::panel
