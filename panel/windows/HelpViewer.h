#pragma once

#include <string>

namespace korvane::panel {

/// Opens the help (kv2.html in the installation directory) with the desktop's handler for web
/// pages. When the desktop has none, the panel stops trying for the rest of its run.
class HelpViewer {
 public:
  /// Opens the help of the installation above `programDirectory`; nothing once an earlier call
  /// found no handler.
  static void show(const std::string& programDirectory);

  /// True once a call found no handler.
  static bool failed() { return failed_; }

 private:
  static inline bool failed_ = false;
};

}  // namespace korvane::panel
