#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// The DNS log log/dnsupdate.log: the last reply of the dynamic DNS service or one error line,
/// without a line end. The manager writes it; the panel and kvctl read and reset it.
namespace korvane::common {

/// The panel's status bar shows at most this many bytes of the log (its buffer of 1024).
inline constexpr std::size_t kDnsLogReadBytes = 1023;
/// The text that marks an update as pending after a new pass code was stored.
inline constexpr std::string_view kDnsLogPending = "---------";

/// <program directory>log/dnsupdate.log
std::string dnsLogPath();

/// The log's text, at most `maxBytes`; empty when the file is missing or cannot be read.
std::string readDnsLog(const std::string& path, std::size_t maxBytes = kDnsLogReadBytes);

/// Replaces the log by `text` atomically, so that a reader sees the old text or the new one.
/// False with a message in `err` when it cannot be written (the old text then stays).
[[nodiscard]] bool writeDnsLog(const std::string& path, std::string_view text, std::string* err);

/// Deletes the log; a missing log is no failure.
[[nodiscard]] bool removeDnsLog(const std::string& path, std::string* err);

}  // namespace korvane::common
