#pragma once

namespace testsupport {

// Enables (or disables) the restore privilege in this process's token, as a
// program must before it mounts or unmounts a hive. False when the token
// refuses.
bool setRestorePrivilege(bool enable = true);

// Enables (or disables) the backup privilege: with it every key opens for
// reading whatever its DACL says, as tests that walk whole real hives need
// (their SYSTEM-only keys refuse administrators otherwise).
bool setBackupPrivilege(bool enable = true);

}  // namespace testsupport
