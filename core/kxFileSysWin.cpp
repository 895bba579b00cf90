#include "core/kxFileSysWin.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/kxFileSys.h"
#include "core/kxStringCompare.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }
bool hasDrive(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// Where the folder part of a plain path ends: after the last separator, or
// after the drive colon of "C:name".
std::size_t folderEnd(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (isSeparator(path[i - 1])) return i;
  return hasDrive(path) ? 2 : 0;
}

fs::path nativeFolder(std::string_view folder) {
  if (folder.empty()) return fs::path(".");
  if (hasDrive(folder)) return platform::windowsToLinuxPath(folder);
  std::string native(folder);
  std::replace(native.begin(), native.end(), '\\', '/');
  return fs::path(native);
}

std::string trimmed(const std::string& name) {
  std::size_t b = 0, e = name.size();
  while (b < e && static_cast<unsigned char>(name[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(name[e - 1]) <= 32) --e;
  return name.substr(b, e - b);
}

}  // namespace

std::vector<std::string> FindFilesByPattern(std::string_view pattern, bool filesWanted, bool foldersWanted) {
  std::string folder;
  std::string mask;
  bool tagged = false;
  if (!pattern.empty() && pattern[0] == '<') {
    tagged = true;
    const std::size_t close = pattern.find('>');
    const std::string_view tag = pattern.substr(0, close == std::string_view::npos ? 0 : close + 1);
    const std::string_view rest = pattern.substr(tag.size());
    if (tag == "<regexpr>") {
      // The folder is written as a regular expression needs it, with "\\".
      const std::size_t last = rest.rfind("\\\\");
      std::string_view head = last == std::string_view::npos ? std::string_view() : rest.substr(0, last + 2);
      for (std::size_t i = 0; i < head.size(); ++i) {
        folder.push_back(head[i]);
        if (head[i] == '\\' && i + 1 < head.size() && head[i + 1] == '\\') ++i;
      }
    } else {
      folder.assign(rest.substr(0, folderEnd(rest)));
    }
  } else {
    const std::size_t end = folderEnd(pattern);
    folder.assign(pattern.substr(0, end));
    mask.assign(pattern.substr(end));
  }

  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(nativeFolder(folder), fs::directory_options::skip_permission_denied, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    if (name == "." || name == "..") continue;
    std::error_code typeEc;
    const bool isDir = it->is_directory(typeEc);
    const bool isFile = !isDir && !typeEc;
    if (!((isFile && filesWanted) || (isDir && foldersWanted))) continue;
    const bool matches = tagged ? MatchTaggedPattern(folder + name, pattern, true, cmpWildcard)
                                : MatchesFileMask(name, mask);
    if (matches) names.push_back(trimmed(name));
  }
  return names;
}
