// kvctl splitter ...: the character that separates an account name from its domain.

#include <string>

#include "panel/logic/DomainSplitter.h"
#include "tools/kvctl/Command.h"
#include "tools/kvctl/Json.h"

namespace korvane::tools {
namespace {

int showSplitter(Context& context, const Arguments&) {
  const std::string text = panel::splitterText(context.config.readDomainSplitter());
  if (context.json) {
    context.out << "{\"splitter\": " << (text.empty() ? "null" : jsonString(text)) << "}\n";
  } else {
    context.out << (text.empty() ? "none" : text) << '\n';
  }
  return kExitOk;
}

int setSplitter(Context& context, const Arguments& arguments) {
  std::string err;
  const std::optional<char> splitter = panel::splitterOfArgument(arguments.positional()[0], &err);
  if (!splitter || !context.config.writeDomainSplitter(*splitter, &err)) {
    return context.refuse(err);
  }
  return kExitOk;
}

}  // namespace

std::vector<Command> splitterCommands() {
  return {
      {"splitter", "show", "", "shows the domain splitter", {}, {}, 0, 0, showSplitter},
      {"splitter",
       "set",
       "CHARACTER|none",
       "sets the domain splitter (hubs take it when next started)",
       {},
       {},
       1,
       1,
       setSplitter},
  };
}

}  // namespace korvane::tools
