#pragma once

#include <QString>
#include <QWidget>
#include <optional>

#include "panel/windows/ResourceLibrary.h"

namespace korvane::panel {

/// The key generator (dialog 135): a passphrase becomes a network key, the MD5 digest of its
/// bytes as 32 upper-case hexadecimal digits.
class KeyGeneratorDialog {
 public:
  /// Shows the dialog modally over `parent`; the key on OK, std::nullopt on Cancel or when the
  /// library has no dialog 135.
  static std::optional<QString> run(const ResourceLibrary& library, QWidget* parent);

  /// The key for the phrase typed into `dialog`'s field 1023, as OK computes it.
  static std::optional<QString> keyOf(const QWidget& dialog);
};

}  // namespace korvane::panel
