#include "panel/logic/FilterModel.h"

#include <algorithm>
#include <utility>

#include "common/Utf16.h"
#include "panel/logic/HubNumber.h"
#include "platform/ProfileFile.h"
#include "platform/WholeFile.h"

namespace korvane::panel {

namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

// Why `text` cannot be written as the value or section name it is meant to be (`what`), so
// that the file's reader gets it back unchanged; empty when it can.
std::string unwritableReason(std::string_view text, std::string_view what, std::size_t maxBytes) {
  const std::string subject = "the " + std::string(what);
  if (text.empty()) {
    return subject + " is empty";
  }
  if (text.size() > maxBytes) {
    return subject + " is longer than " + std::to_string(maxBytes) + " bytes";
  }
  if (!common::utf8ToUtf16(text)) {
    return subject + " is not valid UTF-8 text";
  }
  if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    return subject + " holds a line break or a zero character";
  }
  if (isBlank(text.front()) || isBlank(text.back())) {
    return subject + " starts or ends with a blank";
  }
  return {};
}

std::string noRule(std::string_view name) {
  return "there is no rule named \"" + std::string(name) + "\"";
}

std::size_t indexIn(const std::vector<FilterRule>& rules, std::string_view name) {
  const auto found = std::find_if(rules.begin(), rules.end(),
                                  [&](const FilterRule& rule) { return rule.name == name; });
  return found == rules.end() ? kNotFound : static_cast<std::size_t>(found - rules.begin());
}

bool nameIsFreeExcept(const std::vector<FilterRule>& rules, std::string_view name,
                      std::size_t except) {
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (i != except && common::sameRuleName(rules[i].name, name)) {
      return false;
    }
  }
  return true;
}

// Checks a rule that is to be added to `rules` (replacing kNotFound) or to replace the rule at
// `replacing`, and clears the fields that its kind does not use.
bool checkRule(const std::vector<FilterRule>& rules, FilterRule* rule, std::size_t replacing,
               std::string* err) {
  std::string why = unwritableReason(rule->name, "rule name", kMaxRuleNameBytes);
  if (why.empty() && rule->name.find(']') != std::string::npos) {
    why = "the rule name holds ']', which ends a section name";
  }
  if (why.empty() && rule->kind == FilterRuleKind::kHostName) {
    why = unwritableReason(rule->hostName, "host name", kMaxRuleHostNameBytes);
    const std::string_view host = rule->hostName;
    if (why.empty() && host.size() >= 2 && (host.front() == '"' || host.front() == '\'') &&
        host.back() == host.front()) {
      why = "the host name is enclosed in quotes, which the file's reader removes";
    }
  }
  if (why.empty() && !nameIsFreeExcept(rules, rule->name, replacing)) {
    why = "a rule named \"" + rule->name + "\" exists already";
  }
  if (!why.empty()) {
    *err = why;
    return false;
  }
  if (rule->kind == FilterRuleKind::kHostName) {
    rule->address = {};
    rule->mask = {};
  } else {
    rule->hostName.clear();
  }
  return true;
}

// Moves the rule named `name` one place towards the end (`down`) or the start; a rule at that
// end stays where it is.
bool moveRule(std::vector<FilterRule>* rules, std::string_view name, bool down, std::string* err) {
  const std::size_t index = indexIn(*rules, name);
  if (index == kNotFound) {
    *err = noRule(name);
    return false;
  }
  if (down && index + 1 < rules->size()) {
    std::swap((*rules)[index], (*rules)[index + 1]);
  } else if (!down && index > 0) {
    std::swap((*rules)[index], (*rules)[index - 1]);
  }
  return true;
}

}  // namespace

std::optional<FilterModel> FilterModel::open(const std::string& iniDirectory, int hubNumber,
                                             std::string* err) {
  if (!isHubNumber(hubNumber, err)) {
    return std::nullopt;
  }
  FilterModel model(common::filterFilePath(iniDirectory, hubNumber), hubNumber);
  if (!model.reload(err)) {
    return std::nullopt;
  }
  return model;
}

bool FilterModel::reload(std::string* err) {
  std::string text;
  std::string readError;
  if (platform::readWholeFile(path_, &text, &readError) == platform::ReadOutcome::kFailed) {
    *err = "cannot read " + path_ + ": " + readError;
    return false;
  }
  rules_ = common::parseFilterFile(text);
  fileText_ = std::move(text);
  pending_.clear();
  return true;
}

bool FilterModel::change(RuleChange ruleChange, std::string* err) {
  if (!ruleChange(&rules_, err)) {
    return false;
  }
  pending_.push_back(std::move(ruleChange));
  return true;
}

const FilterRule* FilterModel::find(std::string_view name) const {
  const std::size_t index = indexIn(rules_, name);
  return index == kNotFound ? nullptr : &rules_[index];
}

bool FilterModel::nameIsFree(std::string_view name) const {
  return nameIsFreeExcept(rules_, name, kNotFound);
}

// Each change works on the list it is given, so save can apply it again to the rules of a file
// that another program changed; a change that refuses leaves that list as it was.
bool FilterModel::add(FilterRule rule, std::string* err) {
  return change(
      [rule = std::move(rule)](std::vector<FilterRule>* rules, std::string* refusal) {
        FilterRule added = rule;
        if (!checkRule(*rules, &added, kNotFound, refusal)) {
          return false;
        }
        rules->push_back(std::move(added));
        return true;
      },
      err);
}

bool FilterModel::replace(std::string_view previousName, FilterRule rule, std::string* err) {
  return change(
      [previous = std::string(previousName), rule = std::move(rule)](std::vector<FilterRule>* rules,
                                                                     std::string* refusal) {
        const std::size_t index = indexIn(*rules, previous);
        if (index == kNotFound) {
          *refusal = noRule(previous);
          return false;
        }
        FilterRule replacement = rule;
        if (!checkRule(*rules, &replacement, index, refusal)) {
          return false;
        }
        (*rules)[index] = std::move(replacement);
        return true;
      },
      err);
}

bool FilterModel::moveUp(std::string_view name, std::string* err) {
  return change(
      [name = std::string(name)](std::vector<FilterRule>* rules, std::string* refusal) {
        return moveRule(rules, name, false, refusal);
      },
      err);
}

bool FilterModel::moveDown(std::string_view name, std::string* err) {
  return change(
      [name = std::string(name)](std::vector<FilterRule>* rules, std::string* refusal) {
        return moveRule(rules, name, true, refusal);
      },
      err);
}

bool FilterModel::remove(std::string_view name, std::string* err) {
  return change(
      [name = std::string(name)](std::vector<FilterRule>* rules, std::string* refusal) {
        const std::size_t index = indexIn(*rules, name);
        if (index == kNotFound) {
          *refusal = noRule(name);
          return false;
        }
        rules->erase(rules->begin() + static_cast<std::ptrdiff_t>(index));
        return true;
      },
      err);
}

bool FilterModel::save(std::string* err) {
  std::vector<FilterRule> rules;
  std::string written;
  bool refused = false;
  std::string editError;
  const bool saved = platform::profile::editFile(
      path_,
      [&](platform::profile::ProfileText& file, std::string* refusal) {
        rules = rules_;
        if (file.text() != fileText_) {
          rules = common::parseFilterFile(file.text());
          for (const RuleChange& pendingChange : pending_) {
            std::string why;
            if (!pendingChange(&rules, &why)) {
              refused = true;
              *refusal = path_ +
                         " was changed by another program, and a change made here no "
                         "longer applies: " +
                         why;
              return false;
            }
          }
        }
        written = common::formatFilterFile(rules);
        file = platform::profile::ProfileText(written);
        return true;
      },
      &editError);
  if (!saved) {
    *err = refused ? editError : "cannot write " + path_ + ": " + editError;
    return false;
  }
  rules_ = std::move(rules);
  fileText_ = std::move(written);
  pending_.clear();
  return true;
}

HubDelivery FilterModel::tellHub(bool recheckClients, std::string* err,
                                 const HubCommandClient& client) const {
  return client.send(hubNumber_, filterReload(recheckClients), err);
}

}  // namespace korvane::panel
