#include "tests/support/Privileges.h"

#include "platform/Kernel.h"
#include "platform/Security.h"

namespace testsupport {

namespace {

bool setPrivilege(const char* name, bool enable) {
  using namespace platform;
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES tp;
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  const bool ok = LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid) &&
                  AdjustTokenPrivileges(token, false, &tp, 0, nullptr, nullptr) &&
                  GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return ok;
}

}  // namespace

bool setRestorePrivilege(bool enable) { return setPrivilege(platform::SE_RESTORE_NAME, enable); }

bool setBackupPrivilege(bool enable) { return setPrivilege(platform::SE_BACKUP_NAME, enable); }

}  // namespace testsupport
