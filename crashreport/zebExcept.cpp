#include "crashreport/zebExcept.h"

#include <cxxabi.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>

#include "crashreport/zebHook.h"
#include "crashreport/zebStrings.h"
#include "crashreport/zebTools.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/ProgramFiles.h"
#include "platform/ShellFolders.h"

namespace zeb {

namespace fs = std::filesystem;

std::string ProgramFileName() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.filename().string();
}

std::string FileNameOf(std::string_view path) {
  const std::size_t p = path.find_last_of("\\/");
  return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string FolderOf(std::string_view path) {
  const std::size_t p = path.find_last_of("\\/");
  return std::string(p == std::string_view::npos ? path : path.substr(0, p + 1));
}

std::string WithoutExtension(std::string_view name) {
  const std::size_t p = name.rfind('.');
  return std::string(p == std::string_view::npos ? name : name.substr(0, p));
}

fs::path ResolveSettingsPath(std::string_view path) {
  if (path.empty()) return {};
  if (path[0] == '/') return fs::path(path).lexically_normal();
  const bool windowsAbsolute = path[0] == '\\' || (path.size() >= 2 && path[1] == ':');
  if (windowsAbsolute) return platform::windowsToLinuxPath(path);
  std::string relative(path);
  for (char& c : relative)
    if (c == '\\') c = '/';
  return (platform::userDataFolder() / relative).lexically_normal();
}

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  fs::path folder = tmp && *tmp ? fs::path(tmp) : fs::path("/tmp");
  folder /= WithoutExtension(ProgramFileName()) + ".zebExcept";
  // The folder may hold reports with the data of the user's values: private.
  // One that another user made (or may write into) is never used, as they
  // could read what goes there or plant files the reporter would send.
  if (platform::usePrivateFolder(folder) != 0) return {};
  return folder.string() + "/";
}

void ClearTempFolder() {
  const std::string folder = TempFolder();
  if (folder.empty()) return;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (!it->is_directory(ec)) fs::remove(it->path(), ec);
  fs::remove(folder, ec);  // refused while a subfolder is left
}

std::string ComputerName() {
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
}

namespace {

// Closes a key handle on every path out.
struct OpenKey {
  platform::HKEY key{};
  bool open = false;
  ~OpenKey() {
    if (open) platform::RegCloseKey(key);
  }
};

}  // namespace

std::string ReadRegistryText(std::uintptr_t root, const std::string& keyPath, const std::string& valueName) {
  OpenKey k;
  if (platform::RegOpenKeyExA(platform::HKEY{root}, keyPath.c_str(), 0, platform::KEY_READ, &k.key) !=
      platform::ERROR_SUCCESS)
    return {};
  k.open = true;
  platform::DWORD type = 0, size = 0;
  if (platform::RegQueryValueExA(k.key, valueName.c_str(), nullptr, &type, nullptr, &size) != platform::ERROR_SUCCESS ||
      size == 0)
    return {};
  std::vector<std::uint8_t> buffer(std::size_t(size) * 2, 0);
  platform::DWORD got = platform::DWORD(buffer.size());
  if (platform::RegQueryValueExA(k.key, valueName.c_str(), nullptr, &type, buffer.data(), &got) !=
      platform::ERROR_SUCCESS)
    return {};
  std::string text(buffer.begin(), buffer.begin() + std::min<std::size_t>(got, buffer.size()));
  if (type == platform::REG_SZ) text = text.substr(0, text.find('\0'));
  return text;
}

bool WriteRegistryText(std::uintptr_t root, const std::string& keyPath, const std::string& valueName,
                       const std::string& text) {
  OpenKey k;
  if (platform::RegCreateKeyExA(platform::HKEY{root}, keyPath.c_str(), 0, nullptr, 0, platform::KEY_ALL_ACCESS,
                                nullptr, &k.key, nullptr) != platform::ERROR_SUCCESS)
    return false;
  k.open = true;
  return platform::RegSetValueExA(k.key, valueName.c_str(), 0, platform::REG_SZ,
                                  reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                  platform::DWORD(text.size() + 1)) == platform::ERROR_SUCCESS;
}

bool DeleteRegistryValue(std::uintptr_t root, const std::string& keyPath, const std::string& valueName) {
  OpenKey k;
  if (platform::RegOpenKeyExA(platform::HKEY{root}, keyPath.c_str(), 0, platform::KEY_ALL_ACCESS, &k.key) !=
      platform::ERROR_SUCCESS)
    return false;
  k.open = true;
  return platform::RegDeleteValueA(k.key, valueName.c_str()) == platform::ERROR_SUCCESS;
}

TDAModule ParseModuleMaps(std::string_view maps) {
  TDAModule modules;
  std::map<std::string, std::size_t> indexOf;
  while (!maps.empty()) {
    const std::size_t eol = maps.find('\n');
    const std::string_view line = maps.substr(0, eol);
    maps = eol == std::string_view::npos ? std::string_view() : maps.substr(eol + 1);
    // start-end perms offset dev inode path
    const std::size_t dash = line.find('-');
    const std::size_t slash = line.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) continue;
    const std::uintptr_t start = std::uintptr_t(ParseNumber(true, line.substr(0, dash)));
    const std::size_t blank = line.find(' ', dash);
    if (blank == std::string_view::npos) continue;
    const std::uintptr_t end = std::uintptr_t(ParseNumber(true, line.substr(dash + 1, blank - dash - 1)));
    std::string path(line.substr(slash));
    if (path.ends_with(" (deleted)")) path.resize(path.size() - 10);
    auto [it, added] = indexOf.emplace(path, modules.size());
    if (added) {
      modules.push_back({start, end, path, FileNameOf(path)});
    } else {
      TModule& m = modules[it->second];
      m.base = std::min(m.base, start);
      m.end = std::max(m.end, end);
    }
  }
  return modules;
}

TDAModule ModuleList() {
  std::ifstream in("/proc/self/maps");
  const std::string maps((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseModuleMaps(maps);
}

bool IsProcessLocked(int) { return false; }

const std::type_info* ExceptionType(const std::exception_ptr& exception) {
  if (!exception) return nullptr;
  try {
    std::rethrow_exception(exception);
  } catch (...) {
    return abi::__cxa_current_exception_type();
  }
}

namespace {

std::string Demangled(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                   &std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

std::string WithoutNamespaces(const std::string& name) {
  const std::size_t p = name.rfind("::");
  return p == std::string::npos ? name : name.substr(p + 2);
}

// Walks the public bases recorded in the run-time type information; the depth
// bound guards against a corrupt record.
bool NamedInHierarchy(const std::type_info* type, std::string_view className, int depth) {
  if (!type || depth > 64) return false;
  const std::string name = Demangled(*type);
  if (name == className || WithoutNamespaces(name) == className) return true;
  if (auto* si = dynamic_cast<const abi::__si_class_type_info*>(type))
    return NamedInHierarchy(si->__base_type, className, depth + 1);
  if (auto* vmi = dynamic_cast<const abi::__vmi_class_type_info*>(type)) {
    for (unsigned i = 0; i < vmi->__base_count; ++i)
      if (vmi->__base_info[i].__is_public_p() && NamedInHierarchy(vmi->__base_info[i].__base_type, className, depth + 1))
        return true;
  }
  return false;
}

}  // namespace

bool IsOfClass(const std::type_info* type, std::string_view className) {
  return NamedInHierarchy(type, className, 0);
}

std::string ExceptionClassName(const std::exception_ptr& exception) {
  const std::type_info* type = ExceptionType(exception);
  return type ? WithoutNamespaces(Demangled(*type)) : std::string("Unknown");
}

std::string ExceptionMessageText(const std::exception_ptr& exception) {
  if (!exception) return "Unknown";
  std::string text;
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& e) {
    try {
      text = e.what();
    } catch (...) {
    }
  } catch (...) {
    text = ExceptionClassName(exception);
  }
  std::string clean;
  for (char c : text)
    if (std::uint8_t(c) >= 32 || c == '\r' || c == '\n') clean += c;
  TrimBlanks(clean);
  return clean.empty() ? std::string("Unknown") : clean;
}

std::string AsSentence(std::string_view message) {
  if (message == ".") return ".";
  std::string text(message);
  while (!text.empty() && (text.back() == '.' || text.back() == '!' || text.back() == '\0')) text.pop_back();
  return text + ".";
}

namespace {

std::string FolderVariable(int csidl) {
  std::string folder = platform::specialFolderPath(csidl);
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  if (folder.empty()) {
    std::error_code ec;
    folder = fs::read_symlink("/proc/self/exe", ec).parent_path().string();
  }
  return folder;
}

}  // namespace

std::string ExpandVariables(std::string_view moduleName, std::string text, std::string_view exceptionMessage,
                            std::string_view bugReport, std::string_view versionText) {
  const std::string version = versionText.empty() ? FileVersionText(FileVersion()) : std::string(versionText);
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const long ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  char date[32], time[48];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  std::snprintf(time, sizeof time, "%02d:%02d:%02d, %ldms", local.tm_hour, local.tm_min, local.tm_sec, ms);
  ReplaceAll(text, "%appname%", ProgramFileName(), true, false);
  ReplaceAll(text, "%modname%", moduleName, true, false);
  ReplaceAll(text, "%appversion%", version, true, false);
  ReplaceAll(text, "%modversion%", version, true, false);
  ReplaceAll(text, "%exceptMsg%", exceptionMessage.empty() ? std::string_view("Unknown") : exceptionMessage, true, false);
  ReplaceAll(text, "%bugReport%", bugReport, true, false);
  ReplaceAll(text, "%LF%", "\r\n", true, false);
  ReplaceAll(text, "%date%", date, true, false);
  ReplaceAll(text, "%time%", time, true, false);
  ReplaceAll(text, "%datetime%", std::string(date) + ", " + time, true, false);
  if (FindTextIgnoringCase("%userappdata%", text, 1, text.size()) != 0)
    ReplaceAll(text, "%userappdata%", FolderVariable(platform::CSIDL_APPDATA), true, false);
  if (FindTextIgnoringCase("%commonappdata%", text, 1, text.size()) != 0)
    ReplaceAll(text, "%commonappdata%", FolderVariable(platform::CSIDL_COMMON_APPDATA), true, false);
  return text;
}

namespace {

Hook<ClipboardSink>& clipboardSink() {
  static auto& hook = *new Hook<ClipboardSink>;
  return hook;
}

}  // namespace

void SetClipboardSink(ClipboardSink sink) { clipboardSink().Set(std::move(sink)); }

void CopyToClipboard(const std::string& text) {
  if (const ClipboardSink sink = clipboardSink().Get()) sink(text);
}

}  // namespace zeb
