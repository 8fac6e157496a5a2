#pragma once

#include <QWidget>

#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// The About box (dialog 126): the product's version, closed with OK.
class AboutBox {
 public:
  /// The version the About box shows, the same in every language.
  static constexpr const char* kVersionText = "Version 2.19.1";

  /// Shows the About box modally over `parent` until the user closes it.
  static void show(const ResourceLibrary& library, QWidget* parent);
};

}  // namespace korvane::panel
