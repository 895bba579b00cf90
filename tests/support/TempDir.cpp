#include "tests/support/TempDir.h"

#include "platform/RegistryStore.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace testsupport {

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

// The store is process-wide and keeps the folder it opened first; closing it
// here makes the next registry call open this test's folder, and closing it
// again at the end writes everything back before the folder goes.
TempRegistry::TempRegistry() : dir_("hivescope-registry") {
  platform::registry::shutdownForTests();
  if (const char* prev = std::getenv("HIVESCOPE_REGISTRY")) {
    hadPrevious_ = true;
    previous_ = prev;
  }
  ::setenv("HIVESCOPE_REGISTRY", dir_.path().c_str(), 1);
}

TempRegistry::~TempRegistry() {
  platform::registry::shutdownForTests();
  if (hadPrevious_)
    ::setenv("HIVESCOPE_REGISTRY", previous_.c_str(), 1);
  else
    ::unsetenv("HIVESCOPE_REGISTRY");
}

}  // namespace testsupport
