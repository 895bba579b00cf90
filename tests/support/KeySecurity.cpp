#include "tests/support/KeySecurity.h"

#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "platform/Security.h"

namespace testsupport {

void createKeyWithSddl(platform::HKEY root, const std::string& path, const char* sddl) {
  using namespace platform;
  void* descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
      << sddl;
  SECURITY_ATTRIBUTES sa;
  sa.lpSecurityDescriptor = descriptor;
  HKEY k = nullptr;
  const LSTATUS rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, 0, &sa, &k, nullptr);
  LocalFree(descriptor);
  ASSERT_EQ(rc, ERROR_SUCCESS) << path;
  RegCloseKey(k);
}

}  // namespace testsupport
