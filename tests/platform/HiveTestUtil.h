#pragma once

// Helpers shared by the hive engine tests: a bounded whole-hive walk that
// touches every reading call, name conversions, and small byte builders.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/hive/HiveFile.h"

namespace hivetest {

using namespace platform::hive;

inline std::string utf8(std::u16string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

inline std::vector<std::uint8_t> readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// One entry per key ("K path") and value ("V path|name|type|hex data"),
// in walk order; errors are counted, never fatal.
struct Walk {
  std::vector<std::string> lines;
  std::size_t keys = 0, values = 0, errors = 0;
};

inline std::string hex(const std::vector<std::uint8_t>& d) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (std::uint8_t b : d) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

// Walks the whole tree through every reading call. maxKeys bounds the walk so
// a test of a hostile file can never run away even if the engine did.
inline Walk walkHive(const HiveFile& hive, std::size_t maxKeys = 1'000'000, bool withSecurity = true) {
  Walk w;
  std::vector<std::pair<KeyId, std::string>> pending{{hive.root(), ""}};
  while (!pending.empty() && w.keys < maxKeys) {
    auto [k, parentPath] = pending.back();
    pending.pop_back();
    auto info = hive.keyInfo(k);
    if (!info) {
      ++w.errors;
      continue;
    }
    ++w.keys;
    const std::string path = parentPath + "/" + utf8(info->name);
    w.lines.push_back("K " + path + (info->className.empty() ? "" : " class=" + utf8(info->className)));
    if (withSecurity && !hive.security(k)) ++w.errors;
    (void)hive.parent(k);
    auto vals = hive.values(k);
    if (vals) {
      for (ValueId v : *vals) {
        auto vi = hive.valueInfo(v);
        auto data = hive.valueData(v);
        if (!vi || !data) {
          ++w.errors;
          continue;
        }
        ++w.values;
        w.lines.push_back("V " + path + "|" + utf8(vi->name) + "|" + std::to_string(vi->type) + "|" + hex(*data));
      }
    } else {
      ++w.errors;
    }
    auto kids = hive.subkeys(k);
    if (kids) {
      for (KeyId c : *kids) pending.emplace_back(c, path);
    } else {
      ++w.errors;
    }
  }
  return w;
}

inline std::vector<std::uint8_t> bytesOf(std::string_view s) { return {s.begin(), s.end()}; }

}  // namespace hivetest
