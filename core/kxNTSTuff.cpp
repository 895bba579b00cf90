#include "core/kxNTSTuff.h"

#include "platform/Kernel.h"

bool IsWow64() {
  bool wow64 = false;
  if (!platform::IsWow64Process(platform::GetCurrentProcess(), &wow64)) return false;
  return wow64;
}
