#pragma once

// The key list of a hive file as hivexml (Debian's libhivex-bin) reads it,
// to check that a walk of the same hive through our store reaches every key.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

inline bool hivexmlAvailable() { return std::system("command -v hivexml >/dev/null 2>&1") == 0; }

namespace detail {

inline void appendUtf8(std::string& out, unsigned long c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// The text of an XML attribute value with its entities resolved.
inline std::string xmlUnescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    const std::size_t end = text.find(';', i);
    if (end == std::string_view::npos) {
      out += text.substr(i);
      break;
    }
    const std::string_view entity = text.substr(i + 1, end - i - 1);
    if (entity == "amp") out += '&';
    else if (entity == "lt") out += '<';
    else if (entity == "gt") out += '>';
    else if (entity == "quot") out += '"';
    else if (entity == "apos") out += '\'';
    else if (entity.size() > 1 && entity[0] == '#')
      appendUtf8(out, entity[1] == 'x' ? std::strtoul(std::string(entity.substr(2)).c_str(), nullptr, 16)
                                       : std::strtoul(std::string(entity.substr(1)).c_str(), nullptr, 10));
    i = end;
  }
  return out;
}

}  // namespace detail

// Every key below the hive's root as "\A\B" (UTF-8), the root itself as "",
// in hivexml's order. Nothing when hivexml is missing or fails.
inline std::optional<std::vector<std::string>> hivexmlKeyPaths(const std::filesystem::path& hive) {
  if (!hivexmlAvailable()) return std::nullopt;
  const std::string command = "hivexml '" + hive.string() + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string xml;
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) xml.append(buffer, got);
  if (::pclose(pipe) != 0) return std::nullopt;
  std::vector<std::string> paths;
  std::vector<std::string> stack;  // the open nodes' paths
  std::size_t at = 0;
  while ((at = xml.find('<', at)) != std::string::npos) {
    if (xml.compare(at, 7, "</node>") == 0) {
      if (!stack.empty()) stack.pop_back();
      at += 7;
      continue;
    }
    if (xml.compare(at, 6, "<node ") != 0) {
      ++at;
      continue;
    }
    const std::size_t close = xml.find('>', at);
    if (close == std::string::npos) return std::nullopt;
    const std::string_view tag(xml.data() + at, close - at);
    const std::size_t nameAt = tag.find("name=\"");
    if (nameAt == std::string_view::npos) return std::nullopt;
    const std::size_t nameEnd = tag.find('"', nameAt + 6);
    const std::string name = detail::xmlUnescape(tag.substr(nameAt + 6, nameEnd - nameAt - 6));
    const bool isRoot = tag.find("root=\"1\"") != std::string_view::npos;
    std::string path = isRoot || stack.empty() ? std::string() : stack.back() + "\\" + name;
    paths.push_back(path);
    if (tag.back() != '/') stack.push_back(std::move(path));
    at = close + 1;
  }
  return paths;
}

}  // namespace testsupport
