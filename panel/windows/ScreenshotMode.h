#pragma once

#include <QString>

namespace korvane::panel {

class Panel;

/// Pictures of the panel's windows for the documentation (scripts/screenshots): when the
/// variable KORVANE_PANEL_SCREENSHOTS names a folder, the panel saves main.png (the main window),
/// about.png (the About box), status.png and accounts.png (the windows of the first running hub),
/// filter.png and settings.png (those of the first stopped hub) and NNN.png for the dialogs 117,
/// 118, 150, 170, 174, 135 and 155 there once its main window shows, and ends.
class ScreenshotMode {
 public:
  static constexpr const char* kVariable = "KORVANE_PANEL_SCREENSHOTS";

  /// The folder the variable names; empty when the panel runs for its user.
  static QString folder();

  /// Takes the pictures of `panel`'s windows into `folder`, then quits the application.
  static void start(Panel& panel, const QString& folder);
};

}  // namespace korvane::panel
