#pragma once

namespace testsupport {

// Enables (or disables) the restore privilege in this process's token, as a
// program must before it mounts or unmounts a hive. False when the token
// refuses.
bool setRestorePrivilege(bool enable = true);

}  // namespace testsupport
