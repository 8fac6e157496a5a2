// kvctl splitter ...: the character that separates an account name from its domain.

#include <string>

#include "tools/kvctl/Command.h"
#include "tools/kvctl/Json.h"

namespace korvane::tools {
namespace {

constexpr char kNoSplitter = '\r';

int showSplitter(Context& context, const Arguments&) {
  const char splitter = context.config.readDomainSplitter();
  const std::string text = splitter == kNoSplitter ? "" : std::string(1, splitter);
  if (context.json) {
    context.out << "{\"splitter\": " << (text.empty() ? "null" : jsonString(text)) << "}\n";
  } else {
    context.out << (text.empty() ? "none" : text) << '\n';
  }
  return kExitOk;
}

int setSplitter(Context& context, const Arguments& arguments) {
  const std::string& value = arguments.positional()[0];
  char splitter = kNoSplitter;
  if (value != "none") {
    if (value.size() != 1) {
      return context.refuse("the splitter is one character, or 'none', not '" + value + "'");
    }
    splitter = value[0];
  }
  std::string err;
  if (!context.config.writeDomainSplitter(splitter, &err)) {
    return context.refuse(err);
  }
  return kExitOk;
}

}  // namespace

std::vector<Command> splitterCommands() {
  return {
      {"splitter", "show", "", "shows the domain splitter", {}, {}, 0, 0, showSplitter},
      {"splitter", "set", "CHARACTER|none",
       "sets the domain splitter (hubs take it when next started)", {}, {}, 1, 1, setSplitter},
  };
}

}  // namespace korvane::tools
