// kvctl filter ...: the connection filter rules of a hub, in the order the hub applies them (the
// last matching rule decides). After every change the file is saved and the running hub told to
// reload its filter (command 7; with --recheck, command 8, which also checks connected clients).

#include <string>

#include "common/DottedAddress.h"
#include "common/ProgramPaths.h"
#include "panel/logic/FilterEditor.h"
#include "panel/logic/FilterModel.h"
#include "tools/kvctl/Command.h"
#include "tools/kvctl/Json.h"

namespace korvane::tools {
namespace {

using panel::FilterModel;
using panel::FilterRule;
using panel::FilterRuleKind;

std::optional<FilterModel> openFilter(Context& context, const Arguments& arguments,
                                      std::string* err) {
  const auto hub = parseExistingHub(context.config, arguments.positional()[0], err);
  if (!hub) {
    return std::nullopt;
  }
  return FilterModel::open(common::iniDirectory(), *hub, err);
}

panel::FilterEditor editorOf(FilterModel& model, const Arguments& arguments) {
  return panel::FilterEditor(model, panel::pipeReloadSender(model.hubNumber()),
                             arguments.has("recheck"));
}

// Saves through the editor, which tells the hub as the panel does after the same change.
template <typename Change>
int changeFilter(Context& context, FilterModel& model, const Arguments& arguments, Change change) {
  panel::FilterEditor editor = editorOf(model, arguments);
  std::string err;
  if (!change(editor, &err)) {
    return context.refuse(err);
  }
  if (const std::string warning = editor.lastReload().warning(); !warning.empty()) {
    context.err << "kvctl: warning: the running hub did not confirm the reload: " << warning
                << '\n';
  }
  return kExitOk;
}

int listRules(Context& context, const Arguments& arguments) {
  std::string err;
  const auto model = openFilter(context, arguments, &err);
  if (!model) {
    return context.refuse(err);
  }
  const auto& rules = model->rules();
  context.out << (context.json ? "[\n" : "ORDER | NAME | MATCH | ACTION\n");
  for (std::size_t i = 0; i < rules.size(); ++i) {
    const FilterRule& rule = rules[i];
    const bool byHost = rule.kind == FilterRuleKind::kHostName;
    const char* action = rule.allow ? "allow" : "deny";
    if (context.json) {
      context.out << "  {\"name\": " << jsonString(rule.name);
      if (byHost) {
        context.out << ", \"host\": " << jsonString(rule.hostName);
      } else {
        context.out << ", \"address\": \"" << common::formatIpv4Address(rule.address)
                    << "\", \"mask\": \"" << common::formatIpv4Address(rule.mask) << "\"";
      }
      context.out << ", \"action\": \"" << action << "\"}"
                  << (i + 1 == rules.size() ? "\n" : ",\n");
      continue;
    }
    const std::string match = byHost ? "host " + rule.hostName
                                     : "address " + common::formatIpv4Address(rule.address) + "/" +
                                           common::formatIpv4Address(rule.mask);
    context.out << i + 1 << " | " << rule.name << " | " << match << " | " << action << '\n';
  }
  if (context.json) {
    context.out << "]\n";
  }
  return kExitOk;
}

// Fills the matching part and the action of `rule` from the options; what is not given stays.
bool readRuleOptions(const Arguments& arguments, FilterRule* rule, std::string* err) {
  const auto host = arguments.value("host");
  const auto address = arguments.value("address");
  const auto mask = arguments.value("mask");
  if (host && (address || mask)) {
    *err = "a rule matches by --host or by --address and --mask, not both";
    return false;
  }
  if (host) {
    rule->kind = FilterRuleKind::kHostName;
    rule->hostName = *host;
  } else if (address || mask) {
    if (!address || !mask) {
      *err = "an address rule needs both --address and --mask";
      return false;
    }
    const auto parsedAddress = common::parseIpv4Address(*address, err);
    const auto parsedMask = parsedAddress ? common::parseIpv4Address(*mask, err) : std::nullopt;
    if (!parsedMask) {
      return false;
    }
    rule->kind = FilterRuleKind::kAddress;
    rule->address = *parsedAddress;
    rule->mask = *parsedMask;
  }
  if (arguments.has("allow") && arguments.has("deny")) {
    *err = "a rule either allows or denies";
    return false;
  }
  if (arguments.has("allow") || arguments.has("deny")) {
    rule->allow = arguments.has("allow");
  }
  return true;
}

int addRule(Context& context, const Arguments& arguments) {
  std::string err;
  auto model = openFilter(context, arguments, &err);
  if (!model) {
    return context.refuse(err);
  }
  if (!arguments.has("host") && !arguments.has("address")) {
    return context.refuse("give --host TEXT or --address ADDRESS --mask MASK");
  }
  if (!arguments.has("allow") && !arguments.has("deny")) {
    return context.refuse("give --allow or --deny");
  }
  FilterRule rule;
  rule.name = arguments.positional()[1];
  if (!readRuleOptions(arguments, &rule, &err)) {
    return context.refuse(err);
  }
  return changeFilter(context, *model, arguments, [&](panel::FilterEditor& editor, std::string* e) {
    return editor.add(rule, e);
  });
}

int editRule(Context& context, const Arguments& arguments) {
  std::string err;
  auto model = openFilter(context, arguments, &err);
  if (!model) {
    return context.refuse(err);
  }
  const std::string& name = arguments.positional()[1];
  const FilterRule* existing = model->find(name);
  if (existing == nullptr) {
    return context.refuse("no rule '" + name + "' on hub " + arguments.positional()[0]);
  }
  FilterRule rule = *existing;
  rule.name = arguments.value("name").value_or(rule.name);
  if (!readRuleOptions(arguments, &rule, &err)) {
    return context.refuse(err);
  }
  return changeFilter(context, *model, arguments, [&](panel::FilterEditor& editor, std::string* e) {
    return editor.replace(name, rule, e);
  });
}

int moveRule(Context& context, const Arguments& arguments) {
  const std::string& direction = arguments.positional()[2];
  if (direction != "up" && direction != "down") {
    return context.refuse("a rule moves up or down, not '" + direction + "'");
  }
  std::string err;
  auto model = openFilter(context, arguments, &err);
  if (!model) {
    return context.refuse(err);
  }
  const std::string& name = arguments.positional()[1];
  return changeFilter(context, *model, arguments, [&](panel::FilterEditor& editor, std::string* e) {
    return direction == "up" ? editor.moveUp(name, e) : editor.moveDown(name, e);
  });
}

int deleteRule(Context& context, const Arguments& arguments) {
  std::string err;
  auto model = openFilter(context, arguments, &err);
  if (!model) {
    return context.refuse(err);
  }
  return changeFilter(context, *model, arguments, [&](panel::FilterEditor& editor, std::string* e) {
    return editor.remove(arguments.positional()[1], e);
  });
}

}  // namespace

std::vector<Command> filterCommands() {
  const std::vector<std::string> ruleOptions = {"host", "address", "mask"};
  auto editOptions = ruleOptions;
  editOptions.push_back("name");
  return {
      {"filter",
       "list",
       "HUB",
       "lists a hub's filter rules in the order they apply",
       {},
       {},
       1,
       1,
       listRules},
      {"filter",
       "add",
       "HUB NAME (--host TEXT | --address ADDRESS --mask MASK) (--allow | --deny) [--recheck]",
       "appends a rule (the last matching rule decides)",
       {"allow", "deny", "recheck"},
       ruleOptions,
       2,
       2,
       addRule},
      {"filter",
       "edit",
       "HUB NAME [--name NEW] [--host TEXT | --address ADDRESS --mask MASK] [--allow | --deny] "
       "[--recheck]",
       "changes a rule in its place",
       {"allow", "deny", "recheck"},
       editOptions,
       2,
       2,
       editRule},
      {"filter",
       "move",
       "HUB NAME up|down [--recheck]",
       "moves a rule one place",
       {"recheck"},
       {},
       3,
       3,
       moveRule},
      {"filter",
       "delete",
       "HUB NAME [--recheck]",
       "deletes a rule",
       {"recheck"},
       {},
       2,
       2,
       deleteRule},
  };
}

}  // namespace korvane::tools
