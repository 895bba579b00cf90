#include "tests/support/Privileges.h"

#include "platform/Kernel.h"
#include "platform/Security.h"

namespace testsupport {

bool setRestorePrivilege(bool enable) {
  using namespace platform;
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES tp;
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  const bool ok = LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &tp.Privileges[0].Luid) &&
                  AdjustTokenPrivileges(token, false, &tp, 0, nullptr, nullptr) &&
                  GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return ok;
}

}  // namespace testsupport
