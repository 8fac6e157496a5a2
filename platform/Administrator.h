#pragma once

namespace korvane::platform {

/// True when the running process may administer the hubs: it runs as root, or its user belongs
/// to the administrators' group (kAdministratorsGroup of platform/FileAccess.h), either as a
/// supplementary group or as its effective group.
bool isAdministrator();

}  // namespace korvane::platform
