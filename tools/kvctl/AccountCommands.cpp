// kvctl account ...: the accounts of a hub. After every change the running hub is told to reload
// its accounts, with the same command the control panel sends for that change: 2 keeps the
// connected clients, 5 checks them against the new accounts.

#include <fstream>
#include <iostream>
#include <string>

#include "common/AccountFile.h"
#include "common/ProgramPaths.h"
#include "common/Utf16.h"
#include "panel/logic/AccountEditor.h"
#include "panel/logic/AccountListModel.h"
#include "tools/kvctl/Command.h"
#include "tools/kvctl/Json.h"

namespace korvane::tools {
namespace {

using panel::Account;
using panel::AccountListModel;

// Opens hub HUB's account list with the configured splitter, refusing through `err`.
std::optional<AccountListModel> openAccounts(Context& context, const Arguments& arguments,
                                             std::string* err) {
  const auto hub = parseExistingHub(context.config, arguments.positional()[0], err);
  if (!hub) {
    return std::nullopt;
  }
  return AccountListModel::open(common::iniDirectory(), *hub, context.config.readDomainSplitter(),
                                err);
}

std::optional<std::u16string> textArgument(const std::string& text, const std::string& what,
                                           std::string* err) {
  auto converted = common::utf8ToUtf16(text);
  if (!converted) {
    *err = what + " is not valid UTF-8";
  }
  return converted;
}

// Reads the password from --password-file FILE or the first line of standard input
// (--password-stdin); never from the command line, where other users could read it.
std::optional<std::u16string> readPassword(const Arguments& arguments, std::string* err) {
  std::string line;
  if (auto file = arguments.value("password-file")) {
    std::ifstream in(*file);
    if (!in || !std::getline(in, line)) {
      *err = "cannot read a password from " + *file;
      return std::nullopt;
    }
  } else if (arguments.has("password-stdin")) {
    if (!std::getline(std::cin, line)) {
      *err = "no password on standard input";
      return std::nullopt;
    }
  } else {
    *err = "give the password with --password-file FILE or --password-stdin";
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return textArgument(line, "the password", err);
}

// A hub that does not run learns of the change when it next starts; that is no failure.
int reportReload(Context& context, const panel::ReloadReport& reload) {
  if (const std::string warning = reload.warning(); !warning.empty()) {
    context.err << "kvctl: warning: the running hub did not confirm the reload: " << warning
                << '\n';
  }
  return kExitOk;
}

panel::AccountEditor editorOf(AccountListModel& model) {
  return panel::AccountEditor(model, panel::pipeReloadSender(model.hubNumber()));
}

std::string domainText(const Account& account) {
  return account.domainIndex == 0 ? "-Global-" : common::displayText(account.domain);
}

int listAccounts(Context& context, const Arguments& arguments) {
  std::string err;
  const auto model = openAccounts(context, arguments, &err);
  if (!model) {
    return context.refuse(err);
  }
  const auto& accounts = model->accounts();
  if (context.json) {
    context.out << "[\n";
  } else {
    context.out << "NAME | DOMAIN | TYPE | STATE | CONNECTIONS | BRIDGE\n";
  }
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    const Account& account = accounts[i];
    const std::string name = common::displayText(account.name);
    const char* type = account.guest ? "guest" : "normal";
    const char* state = account.status == common::AccountStatus::kInUse ? "use" : "locked";
    const char* connections = account.connectionMax == 0 ? "multi" : "single";
    if (context.json) {
      context.out << "  {\"name\": " << jsonString(name)
                  << ", \"domain\": " << jsonString(domainText(account))
                  << ", \"domainIndex\": " << account.domainIndex << ", \"type\": \"" << type
                  << "\", \"state\": \"" << state << "\", \"connections\": \"" << connections
                  << "\", \"bridge\": " << (account.bridgeAllow ? "true" : "false") << "}"
                  << (i + 1 == accounts.size() ? "\n" : ",\n");
      continue;
    }
    context.out << name << " | " << domainText(account) << " | " << type << " | " << state << " | "
                << connections << " | " << (account.bridgeAllow ? "on" : "off") << '\n';
  }
  if (context.json) {
    context.out << "]\n";
  }
  return kExitOk;
}

int addAccount(Context& context, const Arguments& arguments) {
  std::string err;
  auto model = openAccounts(context, arguments, &err);
  if (!model) {
    return context.refuse(err);
  }
  const auto name = textArgument(arguments.positional()[1], "the account name", &err);
  const auto password = name ? readPassword(arguments, &err) : std::nullopt;
  if (!password) {
    return context.refuse(err);
  }
  panel::NewAccountForm form;
  form.name = *name;
  form.password = form.passwordAgain = *password;
  form.locked = arguments.has("locked");
  form.guest = arguments.has("guest");
  form.single = arguments.has("single");
  form.bridge = !arguments.has("no-bridge");
  panel::AccountEditor editor = editorOf(*model);
  if (!editor.add(form, &err)) {
    return context.refuse(err);
  }
  return reportReload(context, editor.lastReload());
}

// One account, named by the second word, changed by `change` through the editor, which tells
// the hub as the panel does for the same change.
template <typename Change>
int changeAccount(Context& context, const Arguments& arguments, Change change) {
  std::string err;
  auto model = openAccounts(context, arguments, &err);
  if (!model) {
    return context.refuse(err);
  }
  const auto name = textArgument(arguments.positional()[1], "the account name", &err);
  if (!name) {
    return context.refuse(err);
  }
  if (model->nameIsFree(*name)) {
    return context.refuse("no account '" + arguments.positional()[1] + "' on hub " +
                          arguments.positional()[0]);
  }
  panel::AccountEditor editor = editorOf(*model);
  if (!change(editor, *name, &err)) {
    return context.refuse(err);
  }
  return reportReload(context, editor.lastReload());
}

int setPassword(Context& context, const Arguments& arguments) {
  std::string err;
  const auto password = readPassword(arguments, &err);
  if (!password) {
    return context.refuse(err);
  }
  return changeAccount(context, arguments,
                       [&](panel::AccountEditor& editor, const std::u16string& name,
                           std::string* e) { return editor.setPassword(name, *password, e); });
}

// The options of `account set`, read and checked before anything is written.
struct AccountChanges {
  std::optional<bool> guest;
  std::optional<bool> single;
  std::optional<bool> bridge;
};

int setAccount(Context& context, const Arguments& arguments) {
  AccountChanges changes;
  std::string err;
  for (auto [option, target] :
       {std::pair{"guest", &changes.guest}, std::pair{"single", &changes.single},
        std::pair{"bridge", &changes.bridge}}) {
    if (auto text = arguments.value(option)) {
      *target = parseSwitch(*text, option, &err);
      if (!*target) {
        return context.refuse(err);
      }
    }
  }
  if (!changes.guest && !changes.single && !changes.bridge) {
    return context.refuse("nothing to change: give --guest, --single or --bridge");
  }
  return changeAccount(
      context, arguments,
      [&](panel::AccountEditor& editor, const std::u16string& name, std::string* e) {
        return (!changes.guest || editor.setGuest(name, *changes.guest, e)) &&
               (!changes.single || editor.setSingle(name, *changes.single, e)) &&
               (!changes.bridge || editor.setBridge(name, *changes.bridge, e));
      });
}

int importAccounts(Context& context, const Arguments& arguments) {
  panel::CsvImportMode mode = panel::CsvImportMode::kKeepExisting;
  if (auto text = arguments.value("mode")) {
    if (*text == "replace") {
      mode = panel::CsvImportMode::kReplaceAll;
    } else if (*text == "overwrite") {
      mode = panel::CsvImportMode::kOverwriteSameName;
    } else if (*text != "keep") {
      return context.refuse("mode must be replace, overwrite or keep, not '" + *text + "'");
    }
  }
  std::string err;
  auto model = openAccounts(context, arguments, &err);
  if (!model) {
    return context.refuse(err);
  }
  panel::AccountEditor editor = editorOf(*model);
  panel::CsvImportResult result;
  (void)editor.importCsv(arguments.positional()[1], mode, &result);
  if (!result.ok()) {
    return context.refuse(result.message);
  }
  if (context.json) {
    context.out << "{\"added\": " << result.added << ", \"replaced\": " << result.replaced
                << ", \"kept\": " << result.kept << "}\n";
  } else {
    context.out << "added " << result.added << ", replaced " << result.replaced << ", kept "
                << result.kept << '\n';
  }
  return reportReload(context, editor.lastReload());
}

int exportAccounts(Context& context, const Arguments& arguments) {
  std::string err;
  auto model = openAccounts(context, arguments, &err);
  if (!model) {
    return context.refuse(err);
  }
  panel::CsvExportResult result;
  (void)editorOf(*model).exportCsv(arguments.positional()[1], &result);
  if (!result.ok()) {
    return context.refuse(result.message);
  }
  return kExitOk;
}

// Lock and delete cut the account's clients at once unless --keep-connections says otherwise,
// the panel's choice after string 31.
Command accountCut(const char* name, const char* summary,
                   bool (panel::AccountEditor::*change)(std::u16string_view, std::string*)) {
  return {"account",
          name,
          "HUB NAME [--keep-connections]",
          summary,
          {"keep-connections"},
          {},
          2,
          2,
          [change](Context& context, const Arguments& arguments) {
            return changeAccount(
                context, arguments,
                [&](panel::AccountEditor& editor, const std::u16string& account, std::string* err) {
                  if (!(editor.*change)(account, err)) {
                    return false;
                  }
                  editor.tellClientsCut(!arguments.has("keep-connections"));
                  return true;
                });
          }};
}

int unlockAccount(Context& context, const Arguments& arguments) {
  return changeAccount(context, arguments,
                       [](panel::AccountEditor& editor, const std::u16string& name,
                          std::string* err) { return editor.unlock(name, err); });
}

}  // namespace

std::vector<Command> accountCommands() {
  return {
      {"account", "list", "HUB", "lists a hub's accounts", {}, {}, 1, 1, listAccounts},
      {"account",
       "add",
       "HUB NAME (--password-file FILE | --password-stdin) [--guest] [--single] [--no-bridge] "
       "[--locked]",
       "adds an account",
       {"password-stdin", "guest", "single", "no-bridge", "locked"},
       {"password-file"},
       2,
       2,
       addAccount},
      accountCut("delete", "deletes an account and cuts its connections",
                 &panel::AccountEditor::remove),
      accountCut("lock", "locks an account and cuts its connections", &panel::AccountEditor::lock),
      {"account", "unlock", "HUB NAME", "unlocks an account", {}, {}, 2, 2, unlockAccount},
      {"account",
       "passwd",
       "HUB NAME (--password-file FILE | --password-stdin)",
       "changes an account's password",
       {"password-stdin"},
       {"password-file"},
       2,
       2,
       setPassword},
      {"account",
       "set",
       "HUB NAME [--guest on|off] [--single on|off] [--bridge on|off]",
       "switches an account's guest, single-connection and bridge options",
       {},
       {"guest", "single", "bridge"},
       2,
       2,
       setAccount},
      {"account",
       "import",
       "HUB FILE [--mode replace|overwrite|keep]",
       "takes accounts from a CSV file (all or nothing; keep is the default)",
       {},
       {"mode"},
       2,
       2,
       importAccounts},
      {"account",
       "export",
       "HUB FILE",
       "writes a hub's accounts to a CSV file",
       {},
       {},
       2,
       2,
       exportAccounts},
  };
}

}  // namespace korvane::tools
