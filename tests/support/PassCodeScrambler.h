#pragma once

#include <string>

namespace korvane::testing {

/// Makes a pass code for `address` the way the registration service does, written from the
/// description of the scrambling rather than by running the unscrambler backwards: the address
/// is rotated right by (byte sum mod 255) mod length places, combined byte by byte with "qvtoph"
/// by exclusive or, and Base64-encoded with '=' padding. `lineLength` > 0 breaks the text into
/// lines of that many characters with CR LF.
std::string scramblePassCode(const std::string& address, std::size_t lineLength = 0);

}  // namespace korvane::testing
