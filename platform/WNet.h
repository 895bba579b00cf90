#pragma once

// Connecting to a computer's network resources, Win32-shaped. This platform
// reaches no other computer: only this machine's own names connect.

#include "platform/WinTypes.h"

namespace platform {

inline constexpr DWORD RESOURCETYPE_ANY = 0;
inline constexpr DWORD CONNECT_INTERACTIVE = 0x08;
inline constexpr DWORD CONNECT_PROMPT = 0x10;

struct NETRESOURCEA {
  DWORD dwScope = 0;
  DWORD dwType = RESOURCETYPE_ANY;
  DWORD dwDisplayType = 0;
  DWORD dwUsage = 0;
  LPSTR lpLocalName = nullptr;
  LPSTR lpRemoteName = nullptr;
  LPSTR lpComment = nullptr;
  LPSTR lpProvider = nullptr;
};

// 0 for this machine's own names ("", ".", "localhost", the host name, with
// or without "\\"; a null remote name counts as ""); ERROR_BAD_NETPATH for
// any other; ERROR_INVALID_PARAMETER without a resource.
DWORD WNetAddConnection2A(const NETRESOURCEA* netResource, LPCSTR password, LPCSTR userName, DWORD flags);

}  // namespace platform
