#pragma once

// Helpers shared by the hive engine tests: a bounded whole-hive walk that
// touches every reading call, name conversions, and small byte builders.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
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

inline std::vector<std::u16string> childNamesOf(const HiveFile& h, KeyId k) {
  std::vector<std::u16string> out;
  const auto kids = h.subkeys(k);
  if (kids)
    for (KeyId c : *kids) out.push_back(h.keyInfo(c)->name);
  return out;
}

inline std::vector<std::uint8_t> bytesOf(std::string_view s) { return {s.begin(), s.end()}; }

// ---- comparing with hivexml (libhivex-bin)

// Just enough XML for hivexml's output: elements, attributes, text, entities.
struct XmlReader {
  std::string_view s;
  std::size_t i = 0;

  static void appendUtf8(std::string& out, std::uint32_t c) {
    std::u16string u;
    if (c >= 0x10000) {
      c -= 0x10000;
      u += static_cast<char16_t>(0xD800 + (c >> 10));
      u += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      u += static_cast<char16_t>(c);
    }
    out += utf8(u);
  }
  static std::string unescape(std::string_view t) {
    std::string out;
    for (std::size_t k = 0; k < t.size(); ++k) {
      if (t[k] != '&') {
        out += t[k];
        continue;
      }
      const std::size_t semi = t.find(';', k);
      const std::string_view ent = t.substr(k + 1, semi - k - 1);
      if (ent == "amp") out += '&';
      else if (ent == "lt") out += '<';
      else if (ent == "gt") out += '>';
      else if (ent == "quot") out += '"';
      else if (ent == "apos") out += '\'';
      else if (!ent.empty() && ent[0] == '#')
        appendUtf8(out, static_cast<std::uint32_t>(ent.size() > 1 && ent[1] == 'x'
                                                       ? std::stoul(std::string(ent.substr(2)), nullptr, 16)
                                                       : std::stoul(std::string(ent.substr(1)))));
      k = semi;
    }
    return out;
  }
};

struct HivexmlItems {
  std::vector<std::string> items;
};

// Renders what hivexml shows of a value from the raw type and bytes.
inline std::string renderValue(std::uint32_t type, const std::vector<std::uint8_t>& d) {
  auto units = [&] {
    std::u16string u;
    for (std::size_t i = 0; i + 1 < d.size(); i += 2) u += static_cast<char16_t>(d[i] | (d[i + 1] << 8));
    return u;
  };
  auto b64 = [&] {
    static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string o;
    std::size_t i = 0;
    for (; i + 2 < d.size(); i += 3) {
      const std::uint32_t v = (d[i] << 16) | (d[i + 1] << 8) | d[i + 2];
      o += t[v >> 18], o += t[(v >> 12) & 63], o += t[(v >> 6) & 63], o += t[v & 63];
    }
    if (d.size() - i == 1) {
      const std::uint32_t v = d[i] << 16;
      o += t[v >> 18], o += t[(v >> 12) & 63], o += "==";
    } else if (d.size() - i == 2) {
      const std::uint32_t v = (d[i] << 16) | (d[i + 1] << 8);
      o += t[v >> 18], o += t[(v >> 12) & 63], o += t[(v >> 6) & 63], o += '=';
    }
    return o;
  };
  switch (type) {
    case 1: case 2: case 6: {
      std::u16string u = units();
      u = u.substr(0, u.find(u'\0'));
      return (type == 1 ? "string:" : type == 2 ? "expand:" : "link:") + utf8(u);
    }
    case 7: {
      std::u16string u = units();
      std::string o = "string-list:";
      std::size_t start = 0;
      while (start < u.size()) {
        const std::size_t end = std::min(u.find(u'\0', start), u.size());
        o += "<" + utf8(u.substr(start, end - start)) + ">";
        start = end + 1;
      }
      return o;
    }
    case 4: case 5:
      if (d.size() == 4) {
        const std::uint32_t v = type == 4 ? (d[0] | d[1] << 8 | d[2] << 16 | static_cast<std::uint32_t>(d[3]) << 24)
                                          : (d[3] | d[2] << 8 | d[1] << 16 | static_cast<std::uint32_t>(d[0]) << 24);
        return "int32:" + std::to_string(static_cast<std::int32_t>(v));
      }
      return "int32:-1";  // hivexml's way of showing a DWORD of the wrong size
    case 11:
      if (d.size() == 8) {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | d[i];
        return "int64:" + std::to_string(static_cast<std::int64_t>(v));
      }
      return "int64:-1";
  }
  static const char* names[] = {"none", "string", "expand", "binary", "int32", "int32", "link", "string-list",
                                "resource-list", "resource-description", "resource-requirements", "int64"};
  return std::string(type < 12 ? names[type] : "unknown") + ":" + b64();
}

inline std::vector<std::string> hivexmlItems(const std::filesystem::path& hive) {
  std::vector<std::string> items;
  FILE* p = ::popen(("hivexml '" + hive.string() + "' 2>/dev/null").c_str(), "r");
  if (!p) return items;
  std::string xml;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) xml.append(buf, n);
  ::pclose(p);

  std::vector<std::string> path;
  std::string valueHead;  // pending string-list value
  std::string listBody;
  bool inList = false;
  std::size_t i = 0;
  auto attr = [](std::string_view tag, std::string_view name) -> std::optional<std::string> {
    const std::string key = " " + std::string(name) + "=\"";
    const std::size_t a = tag.find(key);
    if (a == std::string_view::npos) return std::nullopt;
    const std::size_t b = tag.find('"', a + key.size());
    return XmlReader::unescape(tag.substr(a + key.size(), b - a - key.size()));
  };
  auto joined = [&] {
    std::string s;
    for (auto& p : path) s += "/" + p;
    return s;
  };
  while ((i = xml.find('<', i)) != std::string::npos) {
    const std::size_t end = xml.find('>', i);
    const std::string_view tag(xml.data() + i, end - i + 1);
    i = end + 1;
    if (tag.starts_with("<node ")) {
      path.push_back(*attr(tag, "name"));
      items.push_back("K " + joined());
      if (tag.ends_with("/>")) path.pop_back();
    } else if (tag == "</node>") {
      path.pop_back();
    } else if (tag.starts_with("<value ")) {
      const std::string type = *attr(tag, "type");
      const std::string name = attr(tag, "default") ? "" : attr(tag, "key").value_or("");
      const std::string head = "V " + joined() + "|" + name + "|";
      if (type == "string-list") {
        inList = true;
        valueHead = head;
        listBody = "string-list:";
      } else {
        std::string v = attr(tag, "value").value_or("");
        if (attr(tag, "encoding")) std::erase_if(v, [](char c) { return c == '\n' || c == ' ' || c == '\r'; });
        items.push_back(head + type + ":" + v);
      }
    } else if (tag == "<string>" && inList) {
      const std::size_t close = xml.find("</string>", i);
      listBody += "<" + XmlReader::unescape(std::string_view(xml).substr(i, close - i)) + ">";
      i = close;
    } else if (tag == "<string/>" && inList) {
      listBody += "<>";
    } else if (tag == "</value>" && inList) {
      items.push_back(valueHead + listBody);
      inList = false;
    }
  }
  return items;
}

inline std::vector<std::string> engineItems(const HiveFile& h) {
  std::vector<std::string> items;
  std::vector<std::pair<KeyId, std::string>> pending{{h.root(), ""}};
  while (!pending.empty()) {
    auto [k, parent] = pending.back();
    pending.pop_back();
    std::u16string name = h.keyInfo(k)->name;
    name = name.substr(0, name.find(u'\0'));  // hivexml stops names at a NUL
    const std::string path = parent + "/" + utf8(name);
    items.push_back("K " + path);
    const auto vals = h.values(k);
    for (ValueId v : *vals) {
      auto vi = h.valueInfo(v);
      std::u16string vn = vi->name.substr(0, vi->name.find(u'\0'));
      items.push_back("V " + path + "|" + utf8(vn) + "|" + renderValue(vi->type, *h.valueData(v)));
    }
    const auto kids = h.subkeys(k);
    for (KeyId c : *kids) pending.emplace_back(c, path);
  }
  return items;
}


}  // namespace hivetest
