#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/PortListRecord.h"
#include "panel/logic/DomainSplitter.h"

namespace korvane::panel {

/// The number of columns of a status window's connection list.
inline constexpr std::size_t kConnectionColumnCount = 6;

/// One column of the connection list: its header's string number, alignment and width.
struct ConnectionColumn {
  int headerString;
  bool rightAligned;
  int width;  ///< pixels
};

/// The columns in order: name, account, domain, received, sent, address.
inline constexpr std::array<ConnectionColumn, kConnectionColumnCount> kConnectionColumns{{
    {8, false, 330},
    {9, false, 120},
    {102, false, 120},
    {11, true, 90},
    {12, true, 90},
    {55, false, 120},
}};

/// The icon of each connection image, by image index.
inline constexpr std::array<int, 4> kConnectionIcons{119, 120, 121, 153};

/// The address column of a connection whose client has no address yet.
inline constexpr std::string_view kNoAddressText = "---.---.---.---";

/// One row of the connection list: its image index in kConnectionIcons and its column texts.
struct ConnectionRow {
  int image = 0;
  std::array<std::string, kConnectionColumnCount> columns;
};

/// The rows for a hub's connection list, in the hub's order. `noAccountText` stands in the
/// account column of a connection that has not logged in (string 13); `splitter` is the
/// manager's domain splitter.
std::vector<ConnectionRow> connectionRows(const std::vector<common::PortListEntry>& entries,
                                          char splitter, const std::string& noAccountText);

/// The domain of an account name: the text behind the first `splitter`, or "-Global-" when the
/// name holds none (or no splitter is set).
std::string domainText(const std::string& account, char splitter);

/// The address column: the client's virtual address, or "---.---.---.---" without one.
std::string addressText(const std::string& address);

/// A status-bar count, "LABEL : COUNT".
std::string countText(const std::string& label, int count);

}  // namespace korvane::panel
