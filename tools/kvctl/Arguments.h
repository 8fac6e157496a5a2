#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvane::tools {

/// The words of one kvctl call, split into positional words and "--name value" / "--flag"
/// options. Options may stand anywhere; "--" ends them.
class Arguments {
 public:
  /// `flagNames` lists the options that take no value; every other option takes the next word.
  /// Empty with a message in `err` for an option that lacks its value.
  static std::optional<Arguments> parse(const std::vector<std::string>& words,
                                        const std::vector<std::string>& flagNames,
                                        std::string* err);

  const std::vector<std::string>& positional() const { return positional_; }
  bool has(const std::string& name) const { return options_.count(name) != 0; }
  std::optional<std::string> value(const std::string& name) const;
  /// Option names given that are not in `known`, for the "unknown option" refusal.
  std::vector<std::string> unknown(const std::vector<std::string>& known) const;

 private:
  std::vector<std::string> positional_;
  std::map<std::string, std::string> options_;
};

}  // namespace korvane::tools
