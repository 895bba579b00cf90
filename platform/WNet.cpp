#include "platform/WNet.h"

#include "platform/Registry.h"
#include "platform/Text.h"

namespace platform {

DWORD WNetAddConnection2A(const NETRESOURCEA* netResource, LPCSTR, LPCSTR, DWORD) {
  if (!netResource) return ERROR_INVALID_PARAMETER;
  const LPCSTR name = netResource->lpRemoteName;
  return isLocalMachineName(name ? ansiToWide(name) : std::u16string()) ? ERROR_SUCCESS : DWORD(ERROR_BAD_NETPATH);
}

}  // namespace platform
