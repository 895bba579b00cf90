#pragma once

// Logging another local user on and loading that user's profile, Win32-shaped.
// This platform has no logon that loads a user's registry hive: every call
// fails with ERROR_NOT_SUPPORTED (GetLastError). To open another user's
// registry, mount that user's hive file instead.

#include "platform/WinTypes.h"

namespace platform {

inline constexpr DWORD LOGON32_LOGON_INTERACTIVE = 2;
inline constexpr DWORD LOGON32_PROVIDER_DEFAULT = 0;

struct PROFILEINFOA {
  DWORD dwSize = 0;
  DWORD dwFlags = 0;
  LPSTR lpUserName = nullptr;
  LPSTR lpProfilePath = nullptr;
  LPSTR lpDefaultPath = nullptr;
  LPSTR lpServerName = nullptr;
  LPSTR lpPolicyPath = nullptr;
  HANDLE hProfile{};
};

bool LogonUserA(LPCSTR userName, LPCSTR domain, LPCSTR password, DWORD logonType, DWORD logonProvider, HANDLE* token);
bool LoadUserProfileA(HANDLE token, PROFILEINFOA* profile);
bool UnloadUserProfile(HANDLE token, HANDLE profile);

}  // namespace platform
