#pragma once

#include <string>

namespace korvane::platform {

/// Name of the administrators' group: the users who may run the panel elevated (sudo's group).
inline constexpr const char* kAdministratorsGroup = "sudo";

/// Lets the administrators' group read and write the file or folder at `path`, never every
/// local user: the path becomes the group's, with read and write for owner and group (and
/// search plus set-group-id for a folder, so that files made in it are the group's too); others
/// lose the right to write, and for a folder every right, since what the group keeps there
/// (account passwords, network keys) is not theirs to see. Every other right is kept. Without
/// the group on this machine only the owner's rights are granted and others' removed alike.
/// False with a message in `err` and errno in `errorCode`, naming the step that failed: "stat"
/// when the path cannot be examined (for instance when it does not exist), "chown" or "chmod"
/// when its owner or rights cannot be changed.
[[nodiscard]] bool grantAdministratorsAccess(const std::string& path, int* errorCode,
                                             std::string* err);

}  // namespace korvane::platform
