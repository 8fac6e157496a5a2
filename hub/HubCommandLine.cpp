#include "hub/HubCommandLine.h"

#include "common/Atoi.h"

namespace korvane::hub {
namespace {

// A token is copied into a 32-byte buffer before it is converted; one that does not fit with its
// terminating zero is not converted at all.
constexpr std::size_t kTokenBufferSize = 32;

// Takes the next space-separated token from `rest` and returns its value, 0 when there is none or
// it is too long.
int takeToken(std::string_view& rest) {
  const auto start = rest.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    rest = {};
    return 0;
  }
  rest.remove_prefix(start);
  const auto end = rest.find(' ');
  const std::string_view token = rest.substr(0, end);
  rest.remove_prefix(token.size());
  if (token.size() >= kTokenBufferSize) {
    return 0;
  }
  return common::atoiLike(token);
}

}  // namespace

HubCommandLine parseHubCommandLine(std::string_view text) {
  HubCommandLine line;
  line.hubNumber = takeToken(text);
  line.managerProcessId = takeToken(text);
  return line;
}

std::string joinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) {
      text += ' ';
    }
    text += argv[i];
  }
  return text;
}

}  // namespace korvane::hub
