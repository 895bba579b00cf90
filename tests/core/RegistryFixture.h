#pragma once

// A fresh registry (HIVESCOPE_REGISTRY in a temporary folder) and a test key
// under HKEY_CURRENT_USER that is removed afterwards, plus a walk of a key
// tree that lists every key and value with its stored type and bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "core/bwlRegistry.h"
#include "tests/support/RegistryWalk.h"
#include "tests/support/TempDir.h"
#include "tests/support/ThrownText.h"

class RegistryFixture : public ::testing::Test {
protected:
  void TearDown() override {
    TMyRegistry64 reg;
    reg.DeleteKey("\\Software\\HivescopeTests");
    TMyRegistry reg32;
    reg32.DeleteKey("\\Software\\HivescopeTests");
  }

  // "\Software\HivescopeTests\<sub>"
  static std::string testKey(const std::string& sub = {}) {
    return sub.empty() ? "\\Software\\HivescopeTests" : "\\Software\\HivescopeTests\\" + sub;
  }

  using Entry = testsupport::RegistryWalkEntry;

  // Every key and value below root\path in the 64-bit view, sorted.
  static std::vector<Entry> walk(platform::HKEY root, const std::string& path) {
    return testsupport::walkRegistry(root, path);
  }

private:
  testsupport::TempRegistry tempRegistry_;
};
