#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "panel/logic/HubLogReader.h"

namespace korvane::panel {

/// The text of a status window's log pane: what the hub's log gained since the window opened,
/// kept below the pane's limit by dropping whole lines from the front.
class LogPaneText {
 public:
  /// The pane holds fewer characters (UTF-16 code units, as the pane counts them) than this: a
  /// pane of 64 Ki characters keeps the last several hundred lines and redraws quickly.
  static constexpr std::size_t kTextLimit = 65536;
  /// One piece asked of the reader, which gives at most one byte less.
  static constexpr std::size_t kPieceBytes = 1024;
  /// Pieces taken per tick of the pane's timer, so a hub that writes much fills the pane over
  /// several ticks instead of holding the window still while it reads.
  static constexpr int kPiecesPerTick = 10;

  /// Takes up to kPiecesPerTick pieces from `reader`; true when the text changed.
  bool follow(HubLogReader& reader);

  /// Adds the bytes of the log (UTF-8, lines ended by CR LF) to the text. A character whose
  /// bytes are split between two pieces waits for the rest; a byte that is no UTF-8 shows as
  /// U+FFFD. Carriage returns are left out: the pane ends lines with the line feed alone.
  void append(std::string_view bytes);

  const std::u16string& text() const { return text_; }

 private:
  std::u16string text_;
  std::string carry_;  // the first bytes of a character whose rest has not been read yet
};

}  // namespace korvane::panel
