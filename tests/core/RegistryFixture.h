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

  struct Entry {
    std::string path;  // relative to the walked key, "" for itself
    std::string name;  // "<key>" for a key entry
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    bool operator==(const Entry&) const = default;
  };

  // Every key and value below root\path in the 64-bit view, sorted.
  static std::vector<Entry> walk(platform::HKEY root, const std::string& path) {
    std::vector<Entry> out;
    walkInto(root, path, "", out, 0);
    std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) {
      return std::tie(a.path, a.name) < std::tie(b.path, b.name);
    });
    return out;
  }

private:
  static void walkInto(platform::HKEY root, const std::string& path, const std::string& rel, std::vector<Entry>& out,
                       int depth) {
    ASSERT_LT(depth, 64);
    TMyRegistry64 reg;
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKeyReadOnly(path)) << path;
    out.push_back({rel, "<key>", 0, {}});
    std::vector<std::string> names;
    reg.GetValueNames(names);
    for (const auto& n : names) {
      Entry e{rel, n, 0, {}};
      ASSERT_TRUE(reg.readRawValue(n, e.type, e.data)) << n;
      out.push_back(e);
    }
    std::vector<std::string> keys;
    reg.GetKeyNames(keys);
    for (const auto& k : keys) walkInto(root, path + "\\" + k, rel + "\\" + k, out, depth + 1);
  }

  testsupport::TempRegistry tempRegistry_;
};
