#pragma once

#include <memory>
#include <string_view>

#include "common/RunThread.h"
#include "hub/HubLogger.h"

namespace korvane::hub {

/// The titles of the hub's banners, each logged between two lines of 35 '*'.
inline constexpr std::string_view kStartedBanner = "         Process started           ";
inline constexpr std::string_view kTerminatedBanner = "        Process terminated         ";
inline constexpr std::string_view kExceptionBanner = "        Catch Exception            ";

/// Logs a banner: 35 '*', `title`, 35 '*'.
void logBanner(HubLogger& log, std::string_view title);

/// What a hub thread does when an exception escapes it: logs the exception banner, the line
/// naming the thread ("Catch Exception in PortThread"), then "iStepNo = %d" with the last
/// progress marker for a thread that keeps them, or the exception's text for one that does not,
/// and ends the whole process with exit code -1, so that the manager starts the hub afresh
/// rather than leaving it running without one of its threads.
common::ThreadFailureHandler endHubOnThreadFailure(std::shared_ptr<HubLogger> log);

}  // namespace korvane::hub
