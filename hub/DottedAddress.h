#pragma once

// Kept for the includes of the DHCP code, which is being reworked at the same time; the dotted
// address readers live in common/DottedAddress.h. To be removed once those files include it.
#include "common/DottedAddress.h"

namespace korvane::hub {

using common::dottedText;
using common::kInvalidAddress;
using common::parseInetAddress;

}  // namespace korvane::hub
