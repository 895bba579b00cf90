#pragma once

// A walk of a key tree that lists every key and value below it with its
// stored type and bytes, sorted, so two trees compare with ==.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "core/bwlRegistry.h"

namespace testsupport {

struct RegistryWalkEntry {
  std::string path;  // relative to the walked key, "" for itself
  std::string name;  // "<key>" for a key entry
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  bool operator==(const RegistryWalkEntry&) const = default;
};

// Short failure messages: the path, the name, the type and the size.
inline void PrintTo(const RegistryWalkEntry& e, std::ostream* os) {
  *os << e.path << '|' << e.name << '|' << e.type << '|' << e.data.size();
}

namespace detail {
inline void walkRegistryInto(platform::HKEY root, const std::string& path, const std::string& rel,
                             std::vector<RegistryWalkEntry>& out, int depth) {
  ASSERT_LT(depth, 64);
  TMyRegistry64 reg;
  reg.SetRootKey(root);
  ASSERT_TRUE(reg.OpenKeyReadOnly(path)) << path;
  out.push_back({rel, "<key>", 0, {}});
  std::vector<std::string> names;
  reg.GetValueNames(names);
  for (const auto& n : names) {
    RegistryWalkEntry e{rel, n, 0, {}};
    ASSERT_TRUE(reg.readRawValue(n, e.type, e.data)) << n;
    out.push_back(e);
  }
  std::vector<std::string> keys;
  reg.GetKeyNames(keys);
  for (const auto& k : keys) walkRegistryInto(root, path + "\\" + k, rel + "\\" + k, out, depth + 1);
}
}  // namespace detail

// Every key and value below root\path in the 64-bit view, sorted.
inline std::vector<RegistryWalkEntry> walkRegistry(platform::HKEY root, const std::string& path) {
  std::vector<RegistryWalkEntry> out;
  detail::walkRegistryInto(root, path, "", out, 0);
  std::sort(out.begin(), out.end(), [](const RegistryWalkEntry& a, const RegistryWalkEntry& b) {
    return std::tie(a.path, a.name) < std::tie(b.path, b.name);
  });
  return out;
}

}  // namespace testsupport
