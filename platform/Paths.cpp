#include "platform/Paths.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <system_error>

#include <locale.h>

#include "platform/Text.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxMountInfoLines = 100000;

std::mutex& driveMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<Drive>& injectedDrives() {
  static std::vector<Drive> drives;
  return drives;
}

// mountinfo escapes blank, tab, newline and backslash in paths as \ooo.
std::string unescapeMountField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && field.size() - i >= 4) {
      const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
      if (isOctal(field[i + 1]) && isOctal(field[i + 2]) && isOctal(field[i + 3])) {
        out.push_back(static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                        (field[i + 3] - '0')));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

bool isPseudoFileSystem(std::string_view type) {
  static const std::set<std::string_view> kPseudo = {
      "autofs",    "binfmt_misc", "bpf",        "cgroup",     "cgroup2",    "configfs",
      "debugfs",   "devpts",      "devtmpfs",   "efivarfs",   "fusectl",    "hugetlbfs",
      "mqueue",    "nsfs",        "overlay",    "proc",       "pstore",     "ramfs",
      "rpc_pipefs", "securityfs", "selinuxfs",  "squashfs",   "sysfs",      "tmpfs",
      "tracefs",   "nfsd",        "fuse.gvfsd-fuse", "fuse.portal", "fuse.snapfuse", "shm",
  };
  return kPseudo.count(type) != 0;
}

bool isUnder(std::string_view path, std::string_view folder) {
  return path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
         path[folder.size()] == '/';
}

std::vector<Drive> readRealDriveTable() {
  std::ifstream in("/proc/self/mountinfo");
  std::stringstream text;
  if (in) text << in.rdbuf();
  return parseMountInfo(text.str());
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Case folding as the file system's upcase table does it: one UTF-16 unit at a
// time, by the simple upper-case mapping. The C.UTF-8 locale gives that
// mapping whatever the process locale is; without it only ASCII folds.
locale_t utf8Locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

std::u16string foldCase(std::string_view name) {
  std::u16string wide = wtf8ToUtf16(name);
  const locale_t locale = utf8Locale();
  for (char16_t& c : wide) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    if (locale != static_cast<locale_t>(nullptr)) {
      const wint_t upper = towupper_l(static_cast<wint_t>(c), locale);
      if (upper <= 0xFFFF) c = static_cast<char16_t>(upper);
    } else if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c - u'a' + u'A');
    }
  }
  return wide;
}

// The name under dir that stands for `name`: itself when it exists, else a
// case variant found by listing dir. Nothing when neither exists.
std::optional<std::string> matchComponent(const fs::path& dir, const std::string& name) {
  const fs::path lookIn = dir.empty() ? fs::path(".") : dir;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(lookIn / name, ec))) return name;
  const std::u16string wanted = foldCase(name);
  std::optional<std::string> best;
  fs::directory_iterator it(lookIn, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string candidate = it->path().filename().string();
    if (foldCase(candidate) != wanted) continue;
    if (!best || candidate < *best) best = std::move(candidate);
  }
  return best;
}

std::optional<std::string> mountPointOf(const std::vector<Drive>& drives, char letter) {
  for (const Drive& d : drives)
    if (d.letter == letter) return d.mountPoint;
  return std::nullopt;
}

}  // namespace

std::vector<Drive> parseMountInfo(std::string_view mountInfo,
                                  const std::function<bool(const std::string&)>& isDirectory) {
  std::vector<Drive> drives{{'C', "/"}};
  std::set<std::string> seen{"/"};
  char next = 'D';
  std::size_t lines = 0;
  std::size_t pos = 0;
  while (pos < mountInfo.size() && next <= 'Z' && lines++ < kMaxMountInfoLines) {
    std::size_t end = mountInfo.find('\n', pos);
    if (end == std::string_view::npos) end = mountInfo.size();
    const std::vector<std::string_view> fields = splitFields(mountInfo.substr(pos, end - pos));
    pos = end + 1;
    // id parent major:minor root mount-point options [optional...] - type source super-options
    const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 3 ||
        dash - fields.begin() < 6)
      continue;
    const std::string mountPoint = unescapeMountField(fields[4]);
    const std::string_view type = dash[1];
    const std::string source = unescapeMountField(dash[2]);
    if (mountPoint.empty() || mountPoint[0] != '/' || seen.count(mountPoint) != 0) continue;
    if (isPseudoFileSystem(type)) continue;
    const bool onBlockDevice = source.rfind("/dev/", 0) == 0;
    const bool userMount = isUnder(mountPoint, "/mnt") || isUnder(mountPoint, "/media") ||
                           isUnder(mountPoint, "/run/media");
    if (!onBlockDevice && !userMount) continue;
    bool directory;
    if (isDirectory) {
      directory = isDirectory(mountPoint);
    } else {
      std::error_code ec;
      directory = fs::is_directory(mountPoint, ec);
    }
    if (!directory) continue;
    seen.insert(mountPoint);
    drives.push_back({next++, mountPoint});
  }
  return drives;
}

std::vector<Drive> parseDriveList(std::string_view text) {
  std::vector<Drive> drives;
  const auto taken = [&](char letter) {
    return std::any_of(drives.begin(), drives.end(), [&](const Drive& d) { return d.letter == letter; });
  };
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(';', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view part = text.substr(pos, end - pos);
    pos = end + 1;
    const std::size_t eq = part.find('=');
    if (eq == std::string_view::npos || eq == 0 || eq > 2 || eq + 1 >= part.size()) continue;
    if (eq == 2 && part[1] != ':') continue;
    const char c = part[0];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) continue;
    const char letter = static_cast<char>(c & ~0x20);
    if (taken(letter)) continue;
    drives.push_back({letter, std::string(part.substr(eq + 1))});
  }
  if (!taken('C')) drives.push_back({'C', "/"});
  std::sort(drives.begin(), drives.end(), [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
  return drives;
}

std::vector<Drive> driveTable() {
  {
    std::lock_guard lock(driveMutex());
    if (!injectedDrives().empty()) return injectedDrives();
  }
  // Points the program at a disk image mounted anywhere, and lets tests run
  // it as a child with drives of their own.
  if (const char* named = std::getenv("HIVESCOPE_DRIVES"); named != nullptr && *named != '\0')
    return parseDriveList(named);
  // Read each time: a disk mounted while the program runs becomes a drive.
  return readRealDriveTable();
}

void setDriveTable(std::vector<Drive> drives) {
  std::lock_guard lock(driveMutex());
  injectedDrives() = std::move(drives);
}

fs::path windowsToLinuxPath(std::string_view windowsPath) {
  std::string_view rest = windowsPath;
  if (rest.size() >= 4 && isSeparator(rest[0]) && isSeparator(rest[1]) &&
      (rest[2] == '?' || rest[2] == '.') && isSeparator(rest[3])) {
    rest.remove_prefix(4);
    if (rest.size() >= 4 && (rest[0] == 'U' || rest[0] == 'u') && (rest[1] == 'N' || rest[1] == 'n') &&
        (rest[2] == 'C' || rest[2] == 'c') && isSeparator(rest[3]))
      return {};
  } else if (rest.size() >= 2 && isSeparator(rest[0]) && isSeparator(rest[1])) {
    return {};  // UNC
  }
  if (rest.empty()) return {};

  fs::path result;
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (rest.size() >= 2 && isLetter(rest[0]) && rest[1] == ':') {
    const char letter = static_cast<char>(rest[0] & ~0x20);
    const std::optional<std::string> mountPoint = mountPointOf(driveTable(), letter);
    if (!mountPoint) return {};
    result = *mountPoint;
    rest.remove_prefix(2);
  } else if (isSeparator(rest[0])) {
    result = mountPointOf(driveTable(), 'C').value_or("/");
  }

  bool resolving = true;
  std::size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && isSeparator(rest[i])) ++i;
    const std::size_t start = i;
    while (i < rest.size() && !isSeparator(rest[i])) ++i;
    if (i == start) break;
    std::string name(rest.substr(start, i - start));
    if (resolving && name != "." && name != "..") {
      if (std::optional<std::string> found = matchComponent(result, name))
        name = std::move(*found);
      else
        resolving = false;
    }
    result /= name;
  }
  return result;
}

std::string linuxToWindowsPath(const fs::path& path) {
  const std::string text = path.string();
  if (text.empty()) return {};
  const auto toBackslashes = [](std::string_view s) {
    std::string out;
    for (const char c : s) {
      if (c == '/') {
        if (out.empty() || out.back() != '\\') out.push_back('\\');
      } else {
        out.push_back(c);
      }
    }
    return out;
  };
  if (!path.is_absolute()) return toBackslashes(text);

  std::string normal = path.lexically_normal().string();
  if (normal.size() > 1 && normal.back() == '/') normal.pop_back();

  const std::vector<Drive> drives = driveTable();
  const Drive* best = nullptr;
  std::string bestMount;
  for (const Drive& d : drives) {
    std::string mount = fs::path(d.mountPoint).lexically_normal().string();
    if (mount.size() > 1 && mount.back() == '/') mount.pop_back();
    const bool matches = mount == "/" || normal == mount || isUnder(normal, mount);
    if (matches && (!best || mount.size() > bestMount.size())) {
      best = &d;
      bestMount = std::move(mount);
    }
  }
  if (!best) return toBackslashes(normal);
  std::string result(1, best->letter);
  result += ":\\";
  const std::string_view tail =
      std::string_view(normal).substr(bestMount == "/" ? 1 : std::min(normal.size(), bestMount.size() + 1));
  result += toBackslashes(tail);
  return result;
}

}  // namespace platform
