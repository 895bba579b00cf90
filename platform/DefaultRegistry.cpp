#include "platform/DefaultRegistry.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "platform/ProgramFiles.h"
#include "platform/Registry.h"
#include "platform/SecurityDescriptor.h"
#include "platform/Text.h"
#include "platform/hive/HiveFile.h"

namespace platform::registry {

namespace {

namespace fs = std::filesystem;
using hive::HiveFile;
using hive::KeyId;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string userName() {
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name) return pw->pw_name;
  std::string u = env("USER");
  return u.empty() ? std::string("user") : u;
}

// The user's XDG user folders (Desktop, Documents, ...) from user-dirs.dirs,
// each line like XDG_DESKTOP_DIR="$HOME/Desktop".
std::map<std::string, std::string> userDirs() {
  std::map<std::string, std::string> out;
  std::ifstream in(xdgFolder("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs");
  std::string line;
  int lines = 0;
  while (std::getline(in, line) && ++lines < 1000) {
    if (line.empty() || line[0] == '#') continue;
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = homeFolder() + value.substr(5);
    if (!value.empty() && value[0] == '/') out[key] = value;
  }
  return out;
}

std::string userDir(const std::map<std::string, std::string>& dirs, const char* key, const char* fallback) {
  auto it = dirs.find(key);
  return it != dirs.end() ? it->second : homeFolder() + "/" + fallback;
}

std::string productName() {
  std::ifstream in("/etc/os-release");
  std::string line;
  int lines = 0;
  while (std::getline(in, line) && ++lines < 1000) {
    if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
    std::string v = line.substr(12);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (!v.empty()) return v;
  }
  return "Linux";
}

std::vector<std::uint8_t> sid(const std::string& text) {
  return sd::sidFromString(text).value_or(std::vector<std::uint8_t>{});
}

constexpr std::uint8_t CI = sd::CONTAINER_INHERIT_ACE;
constexpr std::uint8_t CIIO = sd::CONTAINER_INHERIT_ACE | sd::INHERIT_ONLY_ACE;
constexpr std::uint32_t kReadControlWriteDac = READ_CONTROL | WRITE_DAC;

std::vector<std::uint8_t> descriptor(const std::string& owner, std::vector<sd::Ace> aces) {
  sd::Parts p;
  p.control = sd::SE_DACL_PROTECTED | sd::SE_DACL_AUTO_INHERITED;
  p.owner = sid(owner);
  p.group = sid("S-1-5-18");
  p.dacl = sd::buildAcl(aces);
  return sd::compose(p);
}

// Machine hives everyone may read: users read, administrators and SYSTEM own,
// creators own what they make.
std::vector<std::uint8_t> machineDescriptor() {
  return descriptor("S-1-5-32-544", {
                                        {sd::ACCESS_ALLOWED_ACE_TYPE, CI, KEY_READ, sid("S-1-5-32-545")},
                                        {sd::ACCESS_ALLOWED_ACE_TYPE, CI, KEY_ALL_ACCESS, sid("S-1-5-32-544")},
                                        {sd::ACCESS_ALLOWED_ACE_TYPE, CI, KEY_ALL_ACCESS, sid("S-1-5-18")},
                                        {sd::ACCESS_ALLOWED_ACE_TYPE, CIIO, GENERIC_ALL, sid("S-1-3-0")},
                                    });
}

// SAM and SECURITY: only SYSTEM reads them; administrators may change the
// DACL and read it, nothing more.
std::vector<std::uint8_t> systemOnlyDescriptor() {
  return descriptor("S-1-5-32-544", {
                                        {sd::ACCESS_ALLOWED_ACE_TYPE, CI, KEY_ALL_ACCESS, sid("S-1-5-18")},
                                        {sd::ACCESS_ALLOWED_ACE_TYPE, CI, kReadControlWriteDac, sid("S-1-5-32-544")},
                                    });
}

std::vector<std::uint8_t> userDescriptor(const std::string& userSid) {
  return descriptor(userSid, {
                                 {sd::ACCESS_ALLOWED_ACE_TYPE, CI, KEY_ALL_ACCESS, sid(userSid)},
                                 {sd::ACCESS_ALLOWED_ACE_TYPE, CI, KEY_ALL_ACCESS, sid("S-1-5-18")},
                                 {sd::ACCESS_ALLOWED_ACE_TYPE, CI, KEY_ALL_ACCESS, sid("S-1-5-32-544")},
                             });
}

// Builds one hive in memory.
class HiveBuilder {
public:
  explicit HiveBuilder(std::unique_ptr<HiveFile> f) : f_(std::move(f)) {}

  bool ok() const { return ok_; }
  HiveFile& file() { return *f_; }

  KeyId key(const char* path) {
    KeyId k = f_->root();
    std::string p = path;
    std::size_t start = 0;
    while (start < p.size()) {
      std::size_t end = p.find('\\', start);
      if (end == std::string::npos) end = p.size();
      std::u16string name = wtf8ToUtf16(p.substr(start, end - start));
      auto found = f_->findSubkey(k, name);
      if (found) {
        k = *found;
      } else {
        auto made = f_->createKey(k, name);
        if (!made) {
          ok_ = false;
          return k;
        }
        k = *made;
      }
      start = end + 1;
    }
    return k;
  }

  void string(const char* path, const char* name, const std::string& text, DWORD type = REG_SZ) {
    std::u16string w = wtf8ToUtf16(text);
    w.push_back(u'\0');
    std::vector<std::uint8_t> data;
    for (char16_t c : w) {
      data.push_back(std::uint8_t(c));
      data.push_back(std::uint8_t(c >> 8));
    }
    if (!f_->setValue(key(path), wtf8ToUtf16(name), type, data)) ok_ = false;
  }

  void dword(const char* path, const char* name, std::uint32_t v) {
    std::vector<std::uint8_t> data = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                                      std::uint8_t(v >> 24)};
    if (!f_->setValue(key(path), wtf8ToUtf16(name), REG_DWORD, data)) ok_ = false;
  }

  void rootSecurity(const std::vector<std::uint8_t>& d) {
    if (!f_->setSecurity(f_->root(), d)) ok_ = false;
  }

private:
  std::unique_ptr<HiveFile> f_;
  bool ok_ = true;
};

void machineFolders(HiveBuilder& b, const char* software) {
  const std::string base = std::string(software) + "Microsoft\\Windows\\CurrentVersion";
  b.string(base.c_str(), "ProgramFilesDir", "/opt");
  b.string(base.c_str(), "CommonFilesDir", "/usr/share");
  const std::string shell = base + "\\Explorer\\Shell Folders";
  b.string(shell.c_str(), "Common AppData", "/usr/share");
  b.string(shell.c_str(), "Common Desktop", "/usr/share/applications");
  b.string(shell.c_str(), "Common Documents", "/usr/share/doc");
  b.string(shell.c_str(), "Common Programs", "/usr/share/applications");
  b.string(shell.c_str(), "Common Start Menu", "/usr/share/applications");
  b.string(shell.c_str(), "Common Startup", "/etc/xdg/autostart");
  b.string(shell.c_str(), "Common Templates", "/usr/share/templates");
  const std::string nt = std::string(software) + "Microsoft\\Windows NT\\CurrentVersion";
  b.string(nt.c_str(), "SystemRoot", "/usr");
  b.string(nt.c_str(), "ProductName", productName());
}

using Build = void (*)(HiveBuilder&, const std::string& userSid);

void buildSystem(HiveBuilder& b, const std::string&) {
  b.rootSecurity(machineDescriptor());
  b.dword("Select", "Current", 1);
  b.dword("Select", "Default", 1);
  b.dword("Select", "LastKnownGood", 1);
  b.key("ControlSet001\\Control");
  b.key("ControlSet001\\Services\\EventLog\\Application");
  b.key("ControlSet001\\Hardware Profiles\\Current");
}

void buildSoftware(HiveBuilder& b, const std::string&) {
  b.rootSecurity(machineDescriptor());
  b.key("Classes");
  machineFolders(b, "");
  // The program runs in the 32-bit view by default, which reads these below
  // Wow6432Node.
  machineFolders(b, "Wow6432Node\\");
}

void buildSam(HiveBuilder& b, const std::string&) {
  b.rootSecurity(systemOnlyDescriptor());
  b.key("SAM");
}

void buildSecurity(HiveBuilder& b, const std::string&) {
  b.rootSecurity(systemOnlyDescriptor());
  b.key("Policy");
}

void buildDefault(HiveBuilder& b, const std::string&) {
  b.rootSecurity(descriptor("S-1-5-18", {
                                            {sd::ACCESS_ALLOWED_ACE_TYPE, CI, KEY_READ, sid("S-1-5-32-545")},
                                            {sd::ACCESS_ALLOWED_ACE_TYPE, CI, KEY_ALL_ACCESS, sid("S-1-5-32-544")},
                                            {sd::ACCESS_ALLOWED_ACE_TYPE, CI, KEY_ALL_ACCESS, sid("S-1-5-18")},
                                        }));
  b.key("Software");
  b.key("Environment");
}

void buildNtUser(HiveBuilder& b, const std::string& userSid) {
  b.rootSecurity(userDescriptor(userSid));
  const auto dirs = userDirs();
  const std::string data = xdgFolder("XDG_DATA_HOME", ".local/share");
  const std::string config = xdgFolder("XDG_CONFIG_HOME", ".config");
  const std::string cache = xdgFolder("XDG_CACHE_HOME", ".cache");
  const char* explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
  b.string(explorer, "Logon User Name", userName());
  const char* shell = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  b.string(shell, "AppData", data);
  b.string(shell, "Desktop", userDir(dirs, "XDG_DESKTOP_DIR", "Desktop"));
  b.string(shell, "Favorites", homeFolder());
  b.string(shell, "Local AppData", data);
  b.string(shell, "Local Settings", cache);
  b.string(shell, "Personal", userDir(dirs, "XDG_DOCUMENTS_DIR", "Documents"));
  b.string(shell, "Programs", data + "/applications");
  b.string(shell, "Start Menu", data + "/applications");
  b.string(shell, "Startup", config + "/autostart");
  b.string(shell, "Templates", userDir(dirs, "XDG_TEMPLATES_DIR", "Templates"));
  // The search path as the Windows list it stands for: ";" between folders.
  std::string path = env("PATH");
  for (char& c : path)
    if (c == ':') c = ';';
  b.string("Environment", "PATH", path, REG_EXPAND_SZ);
}

void buildUsrClass(HiveBuilder& b, const std::string& userSid) {
  b.rootSecurity(userDescriptor(userSid));
}

struct HiveRecipe {
  bool machine;           // mounted under HKEY_LOCAL_MACHINE, else HKEY_USERS
  bool machineFolder;     // kept in machine/, else users/<SID>/
  const char* mountName;  // nullptr: the user's SID (with suffix)
  const char* suffix;
  const char* file;
  Build build;
};

constexpr HiveRecipe kRecipes[] = {
    {true, true, "SYSTEM", nullptr, "SYSTEM", buildSystem},
    {true, true, "SOFTWARE", nullptr, "SOFTWARE", buildSoftware},
    {true, true, "SAM", nullptr, "SAM", buildSam},
    {true, true, "SECURITY", nullptr, "SECURITY", buildSecurity},
    {false, true, ".DEFAULT", nullptr, "DEFAULT", buildDefault},
    {false, false, nullptr, "", "NTUSER.DAT", buildNtUser},
    {false, false, nullptr, "_Classes", "UsrClass.dat", buildUsrClass},
};

fs::path recipePath(const fs::path& folder, const HiveRecipe& r, const std::string& userSid) {
  return r.machineFolder ? folder / "machine" / r.file : folder / "users" / userSid / r.file;
}

LSTATUS createOne(const fs::path& target, const HiveRecipe& r, const std::string& userSid) {
  // The hives hold the user's settings and whatever the user stores in them:
  // the folders made for them are the user's alone, as are the files below.
  if (createPrivateFolders(target.parent_path()) != 0) return ERROR_ACCESS_DENIED;
  std::error_code ec;
  auto empty = HiveFile::createEmpty(u"ROOT");
  if (!empty) return ERROR_OUTOFMEMORY;
  HiveBuilder b(std::move(empty.value()));
  r.build(b, userSid);
  if (!b.ok()) return ERROR_REGISTRY_IO_FAILED;
  // Written beside the target and linked into place only if the name is
  // still free: a process starting at the same moment may have won, and its
  // file is as good as ours.
  fs::path tmp = target;
  tmp += ".new-" + std::to_string(::getpid());
  auto st = b.file().saveAs(tmp);
  if (!st || ::chmod(tmp.c_str(), 0600) != 0) {
    fs::remove(tmp, ec);
    return ERROR_REGISTRY_IO_FAILED;
  }
  int rc = ::link(tmp.c_str(), target.c_str());
  int err = errno;
  fs::remove(tmp, ec);
  if (rc != 0 && err != EEXIST) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

}  // namespace

std::filesystem::path defaultRegistryFolder() {
  std::string explicitFolder = env("HIVESCOPE_REGISTRY");
  if (!explicitFolder.empty()) return explicitFolder;
  return userDataFolder() / "registry";
}

std::vector<DefaultHive> defaultHives(const std::filesystem::path& folder, const std::string& userSid) {
  std::vector<DefaultHive> out;
  for (const HiveRecipe& r : kRecipes) {
    DefaultHive d;
    d.machine = r.machine;
    d.mountName = r.mountName ? asciiToWide(r.mountName) : asciiToWide(userSid + r.suffix);
    d.path = recipePath(folder, r, userSid);
    out.push_back(std::move(d));
  }
  return out;
}

LSTATUS createMissingDefaultHives(const std::filesystem::path& folder, const std::string& userSid) {
  LSTATUS first = ERROR_SUCCESS;
  for (const HiveRecipe& r : kRecipes) {
    fs::path target = recipePath(folder, r, userSid);
    std::error_code ec;
    if (fs::exists(target, ec)) continue;
    LSTATUS rc = createOne(target, r, userSid);
    if (first == ERROR_SUCCESS) first = rc;
  }
  return first;
}

}  // namespace platform::registry
