#pragma once

#include <QString>

namespace korvane::panel {

class Panel;

/// Pictures of the panel's windows for the documentation (scripts/screenshots): when the
/// variable KORVANE_PANEL_SCREENSHOTS names a folder, the panel saves main.png (the main window),
/// about.png (the About box) and status.png (the status window of the first running hub) there
/// once its main window shows, and ends.
class ScreenshotMode {
 public:
  static constexpr const char* kVariable = "KORVANE_PANEL_SCREENSHOTS";

  /// The folder the variable names; empty when the panel runs for its user.
  static QString folder();

  /// Takes the pictures of `panel`'s windows into `folder`, then quits the application.
  static void start(Panel& panel, const QString& folder);
};

}  // namespace korvane::panel
