#include "tools/kvctl/Arguments.h"

#include <algorithm>

namespace korvane::tools {

std::optional<Arguments> Arguments::parse(const std::vector<std::string>& words,
                                          const std::vector<std::string>& flagNames,
                                          std::string* err) {
  Arguments arguments;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || word.size() < 3 || word.rfind("--", 0) != 0) {
      if (word == "--") {
        optionsEnded = true;
        continue;
      }
      arguments.positional_.push_back(word);
      continue;
    }
    std::string name = word.substr(2);
    if (const auto equals = name.find('='); equals != std::string::npos) {
      arguments.options_[name.substr(0, equals)] = name.substr(equals + 1);
      continue;
    }
    if (std::find(flagNames.begin(), flagNames.end(), name) != flagNames.end()) {
      arguments.options_[name] = "";
      continue;
    }
    if (i + 1 >= words.size()) {
      *err = "option --" + name + " needs a value";
      return std::nullopt;
    }
    arguments.options_[name] = words[++i];
  }
  return arguments;
}

std::optional<std::string> Arguments::value(const std::string& name) const {
  const auto found = options_.find(name);
  if (found == options_.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::vector<std::string> Arguments::unknown(const std::vector<std::string>& known) const {
  std::vector<std::string> names;
  for (const auto& [name, value] : options_) {
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      names.push_back(name);
    }
  }
  return names;
}

}  // namespace korvane::tools
