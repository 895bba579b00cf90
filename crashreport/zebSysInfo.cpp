#include "crashreport/zebSysInfo.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "crashreport/zebExcept.h"
#include "crashreport/zebHook.h"
#include "crashreport/zebStrings.h"
#include "crashreport/zebTools.h"
#include "platform/ShellFolders.h"

namespace zeb {

namespace {

std::string Amount(std::int64_t n, const char* unit) {
  if (n == 0) return {};
  if (n == 1) return "1 " + std::string(unit) + " ";
  return DecimalText(n) + " " + unit + "s ";
}

// The value after "key:" on its line of a "key: value" text.
std::string FieldOf(std::string_view text, std::string_view key) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && TrimmedCopy(line.substr(0, colon)) == key)
      return TrimmedCopy(line.substr(colon + 1));
    pos = end + 1;
  }
  return {};
}

Hook<std::function<std::string()>>& displayHook() {
  static auto& hook = *new Hook<std::function<std::string()>>;
  return hook;
}

}  // namespace

std::string ReadSystemFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string DurationText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t days = seconds / 86400, hours = (seconds / 3600) % 24, minutes = (seconds / 60) % 60,
                     rest = seconds % 60;
  if (days > 0) return Amount(days, "day") + Amount(hours, "hour");
  if (hours > 0) return Amount(hours, "hour") + Amount(minutes, "minute");
  return Amount(minutes, "minute") + Amount(rest, "second");
}

std::string UserNameText() {
  passwd entry{}, *found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
    return std::string(found->pw_name).substr(0, 260);
  const char* user = std::getenv("USER");
  return user ? std::string(user).substr(0, 260) : std::string();
}

bool UserIsAdministrator() { return geteuid() == 0; }

std::string OsVersionText() {
  const TOS os = OperatingSystem();
  return os.description + " build " + os.buildText;
}

std::string LanguageName(std::string_view code) {
  const std::string c = LowerText(code);
  if (c.empty()) return {};
  // The names the iso-codes tables carry, when installed.
  static const auto& table = *new std::string(ReadSystemFile("/usr/share/iso-codes/json/iso_639-2.json"));
  const std::string key = std::string(c.size() == 2 ? "\"alpha_2\": \"" : "\"alpha_3\": \"") + c + "\"";
  if (const std::size_t at = table.find(key); at != std::string::npos) {
    const std::size_t entryEnd = table.find('}', at);
    const std::size_t name = table.find("\"name\": \"", at);
    if (name != std::string::npos && name < entryEnd) {
      const std::size_t start = name + 9, end = table.find('"', start);
      if (end != std::string::npos) return table.substr(start, end - start);
    }
  }
  static const std::pair<const char*, const char*> common[] = {
      {"en", "English"},  {"de", "German"},    {"fr", "French"},   {"es", "Spanish"},  {"it", "Italian"},
      {"pt", "Portuguese"}, {"nl", "Dutch"},   {"sv", "Swedish"},  {"da", "Danish"},   {"nb", "Norwegian Bokmål"},
      {"fi", "Finnish"},  {"pl", "Polish"},    {"cs", "Czech"},    {"sk", "Slovak"},   {"hu", "Hungarian"},
      {"ru", "Russian"},  {"uk", "Ukrainian"}, {"el", "Greek"},    {"tr", "Turkish"},  {"ja", "Japanese"},
      {"zh", "Chinese"},  {"ko", "Korean"},    {"ar", "Arabic"},   {"he", "Hebrew"},   {"ro", "Romanian"},
  };
  for (const auto& [k, name] : common)
    if (c == k) return name;
  return c;
}

std::string OsLanguageText() {
  std::string locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) {
      locale = v;
      break;
    }
  }
  if (locale.empty() || locale == "C" || locale == "POSIX" || StartsWith("C.", locale)) return "English";
  const std::size_t end = locale.find_first_of("_.@");
  return LanguageName(locale.substr(0, end));
}

std::string SystemUpTimeText() {
  const std::string text = ReadSystemFile("/proc/uptime");
  if (text.empty()) return {};
  return DurationText(std::int64_t(std::strtod(text.c_str(), nullptr)));
}

std::string ProgramUpTimeText() {
  const std::string uptime = ReadSystemFile("/proc/uptime");
  const std::string stat = ReadSystemFile("/proc/self/stat");
  // The fields after the command name, which ends at the last ")".
  const std::size_t close = stat.rfind(')');
  if (uptime.empty() || close == std::string::npos) return {};
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  // State is field 3; the start time is field 22.
  for (int i = 3; i <= 22 && fields >> field; ++i) {
  }
  const long ticks = sysconf(_SC_CLK_TCK);
  if (field.empty() || ticks <= 0) return {};
  const std::int64_t startMs = std::int64_t(std::strtoull(field.c_str(), nullptr, 10) * 1000 / ticks);
  const std::int64_t nowMs = std::int64_t(std::strtod(uptime.c_str(), nullptr) * 1000);
  const std::int64_t elapsed = std::max<std::int64_t>(0, nowMs - startMs);
  std::string text = DurationText(elapsed / 1000);
  if (text.empty()) text = DecimalText(elapsed) + " milliseconds";
  return text;
}

std::string ProcessorName() {
  std::string name = FieldOf(ReadSystemFile("/proc/cpuinfo"), "model name");
  while (ReplaceAll(name, "  ", " ", false, false)) {
  }
  return TrimmedCopy(name);
}

int ProcessorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? int(n) : 1;
}

std::string MemoryStatusFrom(std::string_view meminfo) {
  const std::string total = FieldOf(meminfo, "MemTotal"), available = FieldOf(meminfo, "MemAvailable");
  if (total.empty()) return {};
  auto megabytes = [](const std::string& kb) {
    const std::uint64_t bytes = std::strtoull(kb.c_str(), nullptr, 10) * 1024;
    return DecimalText(std::int64_t((bytes + 524288) / 1048576));
  };
  return megabytes(available.empty() ? FieldOf(meminfo, "MemFree") : available) + "/" + megabytes(total) +
         " MB (free/total)";
}

std::string MemoryStatusText() { return MemoryStatusFrom(ReadSystemFile("/proc/meminfo")); }

namespace {

std::string MountPointOf(const std::string& path) {
  const std::string mounts = ReadSystemFile("/proc/self/mounts");
  std::string best = "/";
  std::istringstream lines(mounts);
  std::string device, point, rest;
  while (lines >> device >> point && std::getline(lines, rest)) {
    const bool inside = path == point || (path.starts_with(point) && (point == "/" || path[point.size()] == '/'));
    if (inside && point.size() >= best.size()) best = point;
  }
  return best;
}

std::string ExistingFolder(std::string folder) {
  struct stat st {};
  while (!folder.empty() && ::stat(folder.c_str(), &st) != 0) {
    const std::size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos || slash == 0 ? "/" : folder.substr(0, slash);
    if (folder == "/") break;
  }
  return folder.empty() ? "/" : folder;
}

}  // namespace

std::string DriveFreeText(const std::string& folder) {
  const std::string existing = ExistingFolder(folder);
  struct statvfs fs {};
  if (statvfs(existing.c_str(), &fs) != 0) return {};
  char* real = realpath(existing.c_str(), nullptr);
  const std::string path = real ? real : existing;
  std::free(real);
  return "(" + MountPointOf(path) + ") " + SizeText(std::int64_t(std::uint64_t(fs.f_bfree) * fs.f_frsize));
}

std::string FreeDiskSpaceText() {
  const std::string data = ExistingFolder(platform::windowsDirectory());
  std::string text = DriveFreeText(data);
  char* exe = realpath("/proc/self/exe", nullptr);
  const std::string program = exe ? exe : "";
  std::free(exe);
  struct stat a {}, b {};
  if (!program.empty() && ::stat(data.c_str(), &a) == 0 && ::stat(program.c_str(), &b) == 0 && a.st_dev != b.st_dev) {
    const std::string second = DriveFreeText(FolderOf(program));
    if (!second.empty()) text += (text.empty() ? "" : " ") + second;
  }
  return text;
}

void SetDisplayModeSource(std::function<std::string()> source) { displayHook().Set(std::move(source)); }

std::string DisplayModeText() {
  const auto source = displayHook().Get();
  return source ? source() : std::string();
}

std::uint64_t AnonymousBytesFrom(std::string_view maps) {
  std::uint64_t sum = 0;
  std::size_t pos = 0;
  while (pos < maps.size()) {
    std::size_t end = maps.find('\n', pos);
    if (end == std::string_view::npos) end = maps.size();
    const std::string line(maps.substr(pos, end - pos));
    pos = end + 1;
    std::istringstream f(line);
    std::string range, perms, offset, device, inode, name;
    if (!(f >> range >> perms >> offset >> device >> inode)) continue;
    std::getline(f, name);
    name = TrimmedCopy(name);
    // Files, the kernel's own pages and inaccessible reservations are no
    // allocated memory.
    if (inode != "0" || perms.rfind("---", 0) == 0) continue;
    if (name == "[vdso]" || name == "[vvar]" || name == "[vsyscall]") continue;
    if (!name.empty() && name[0] == '/') continue;
    const std::size_t dash = range.find('-');
    if (dash == std::string::npos) continue;
    const std::uint64_t from = std::strtoull(range.substr(0, dash).c_str(), nullptr, 16);
    const std::uint64_t to = std::strtoull(range.substr(dash + 1).c_str(), nullptr, 16);
    if (to > from) sum += to - from;
  }
  return sum;
}

std::string AllocatedMemoryText() {
  const std::string maps = ReadSystemFile("/proc/self/maps");
  if (maps.empty()) return {};
  return SizeText(std::int64_t(AnonymousBytesFrom(maps)));
}

std::string CommandLineText() {
  const std::string raw = ReadSystemFile("/proc/self/cmdline");
  std::string text;
  int count = 0;
  for (std::size_t pos = 0; pos < raw.size();) {
    std::size_t end = raw.find('\0', pos);
    if (end == std::string::npos) end = raw.size();
    if (!text.empty()) text += ' ';
    text += raw.substr(pos, end - pos);
    ++count;
    pos = end + 1;
  }
  return count > 1 ? text : std::string();
}

std::string CompilerText() {
#if defined(__clang__)
  return "clang " __clang_version__;
#elif defined(__GNUC__)
  return "GCC " __VERSION__;
#else
  return {};
#endif
}

}  // namespace zeb
