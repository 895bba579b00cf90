#include "platform/UserLogon.h"

namespace platform {

bool LogonUserA(LPCSTR, LPCSTR, LPCSTR, DWORD, DWORD, HANDLE* token) {
  if (token) *token = HANDLE{};
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

bool LoadUserProfileA(HANDLE, PROFILEINFOA*) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

bool UnloadUserProfile(HANDLE, HANDLE) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

}  // namespace platform
