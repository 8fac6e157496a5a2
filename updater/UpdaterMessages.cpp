#include "updater/UpdaterMessages.h"

#include "platform/ProfileFile.h"

namespace korvane::updater {
namespace {

// The text of one message is read into a buffer of this size, as every text of the updater is.
constexpr std::size_t kMessageBufferBytes = 2048;

bool isArgumentDirective(char c) {
  return c == 's' || c == 'd' || c == 'i' || c == 'u';
}

}  // namespace

std::string UpdaterMessages::text(int number) const {
  std::string text = platform::profile::readString(path_, "MESSAGES", std::to_string(number), "",
                                                   kMessageBufferBytes);
  for (auto at = text.find("\\n"); at != std::string::npos; at = text.find("\\n")) {
    text.replace(at, 2, "\n");
  }
  return text;
}

void UpdaterMessages::show(int number, const std::vector<std::string>& args) const {
  out_ << kCaption << ": " << fillMessage(text(number), args) << "\n" << std::flush;
}

std::string fillMessage(const std::string& format, const std::vector<std::string>& args) {
  std::string filled;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const bool directive = format[i] == '%' && i + 1 < format.size();
    if (directive && format[i + 1] == '%') {
      filled += '%';
      ++i;
    } else if (directive && isArgumentDirective(format[i + 1])) {
      filled += next < args.size() ? args[next] : std::string();
      ++next;
      ++i;
    } else {
      filled += format[i];
    }
  }
  return filled;
}

}  // namespace korvane::updater
