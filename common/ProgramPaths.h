#pragma once

#include <string>

/// Where the programs of one installation keep their files, all below the shared program
/// directory: settings in ini/, logs in log/.
namespace korvane::common {

/// <program directory>ini/
std::string iniDirectory();
/// <program directory>log/
std::string logDirectory();
/// <program directory>ini/Tollmar.ini, the manager configuration file.
std::string managerConfigPath();

}  // namespace korvane::common
