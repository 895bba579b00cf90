#include "crashreport/zebPlugins.h"

#include <dirent.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "crashreport/zebExcept.h"
#include "crashreport/zebStrings.h"
#include "crashreport/zebSysInfo.h"

namespace zeb {

namespace {

std::string FirstLine(const std::string& path) {
  std::string text = ReadSystemFile(path);
  const std::size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  return TrimmedCopy(text);
}

std::string LinkTarget(const std::string& path) {
  char buffer[4096];
  const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

std::string Hex16(std::uint64_t v) { return PadText(HexText(v), 16, '0'); }

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) {
    if (!text.empty()) text += "\r\n";
    text += l;
  }
  return text;
}

unsigned HexValue(std::string_view text) {
  return unsigned(std::strtoul(std::string(text).c_str(), nullptr, 16));
}

bool IsHex(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

}  // namespace

// --- modules -----------------------------------------------------------------

std::string VersionOfFileName(std::string_view fileName) {
  // The run of ".digits" groups the name ends with.
  std::size_t start = fileName.size();
  while (true) {
    std::size_t i = start;
    while (i > 0 && std::isdigit(static_cast<unsigned char>(fileName[i - 1]))) --i;
    if (i == start || i == 0 || fileName[i - 1] != '.') break;
    start = i - 1;
  }
  return start == fileName.size() ? std::string() : std::string(fileName.substr(start + 1));
}

std::string ModuleListFrom(std::string_view maps) {
  struct Module {
    std::uint64_t base = 0;
    bool executable = false;
  };
  std::map<std::string, Module> byPath;
  std::istringstream lines{std::string(maps)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string range, perms, offset, device, inode, path;
    if (!(f >> range >> perms >> offset >> device >> inode)) continue;
    std::getline(f, path);
    path = TrimmedCopy(path);
    if (path.empty() || path[0] != '/') continue;
    const std::uint64_t start = std::strtoull(range.c_str(), nullptr, 16);
    auto [it, added] = byPath.try_emplace(path, Module{start, false});
    if (!added) it->second.base = std::min(it->second.base, start);
    if (perms.size() > 2 && perms[2] == 'x') it->second.executable = true;
  }
  struct Entry {
    std::uint64_t base;
    std::string name, version, folder;
  };
  std::vector<Entry> entries;
  for (const auto& [path, m] : byPath) {
    if (!m.executable) continue;
    std::string folder = FolderOf(path);
    if (folder.size() > 1) folder.pop_back();
    const std::string name = FileNameOf(path);
    entries.push_back({m.base, name, VersionOfFileName(name), folder});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.base < b.base; });
  std::size_t nameWidth = 0, versionWidth = 0;
  for (const Entry& e : entries) {
    nameWidth = std::max(nameWidth, e.name.size());
    versionWidth = std::max(versionWidth, e.version.size());
  }
  std::vector<std::string> out;
  for (const Entry& e : entries)
    out.push_back(Hex16(e.base) + " " + PadText(e.name, -int(nameWidth + 1), ' ') +
                  PadText(e.version, -int(versionWidth + 1), ' ') + e.folder);
  return JoinLines(out);
}

std::string ModuleListText() { return ModuleListFrom(ReadSystemFile("/proc/self/maps")); }

// --- processes ---------------------------------------------------------------

std::string PriorityText(int policy, int nice) {
  if (policy == SCHED_FIFO || policy == SCHED_RR) return "realtime";
  if (policy == SCHED_IDLE) return "idle";
  if (nice <= -10) return "high";
  if (nice < 0) return "above normal";
  if (nice == 0) return "normal";
  if (nice < 10) return "below normal";
  return "idle";
}

std::string ProcessListText() {
  struct Process {
    long pid;
    std::string name, folder, priority;
  };
  std::vector<Process> processes;
  DIR* dir = opendir("/proc");
  if (!dir) return {};
  while (dirent* e = readdir(dir)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (!end || *end || pid <= 0) continue;
    const std::string base = "/proc/" + std::string(e->d_name);
    const std::string stat = ReadSystemFile(base + "/stat");
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    Process p{pid, stat.substr(open + 1, close - open - 1), "", ""};
    // Fields from the state (3) on: nice is 19, the policy 41.
    std::istringstream fields(stat.substr(close + 2));
    std::vector<std::string> f;
    std::string field;
    while (fields >> field) f.push_back(field);
    if (f.size() >= 39) p.priority = PriorityText(std::atoi(f[38].c_str()), std::atoi(f[16].c_str()));
    // The full path when the process lets us read it, else its short name.
    const std::string exe = LinkTarget(base + "/exe");
    if (!exe.empty() && exe[0] == '/') {
      std::string path = exe;
      if (path.ends_with(" (deleted)")) path.resize(path.size() - 10);
      p.name = FileNameOf(path);
      p.folder = FolderOf(path);
      if (p.folder.size() > 1) p.folder.pop_back();
    }
    processes.push_back(std::move(p));
  }
  closedir(dir);
  std::sort(processes.begin(), processes.end(), [](const Process& a, const Process& b) { return a.pid < b.pid; });
  std::size_t pidWidth = 0, nameWidth = 0, priorityWidth = 0;
  for (const Process& p : processes) {
    pidWidth = std::max(pidWidth, HexText(std::uint64_t(p.pid)).size());
    nameWidth = std::max(nameWidth, p.name.size());
    priorityWidth = std::max(priorityWidth, p.priority.size());
  }
  std::vector<std::string> out;
  for (const Process& p : processes) {
    std::string line = PadText(HexText(std::uint64_t(p.pid)), int(pidWidth), '0') + " " +
                       PadText(p.name, -int(nameWidth + 1), ' ') + PadText(p.priority, -int(priorityWidth + 1), ' ') +
                       p.folder;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out.push_back(line);
  }
  return JoinLines(out);
}

// --- hardware ----------------------------------------------------------------

DeviceIds::DeviceIds(std::string_view text) : text_(text) {
  std::size_t pos = 0;
  while (pos < text_.size()) {
    std::size_t end = text_.find('\n', pos);
    if (end == std::string_view::npos) end = text_.size();
    const std::string_view line = text_.substr(pos, end - pos);
    if (line.size() > 6 && IsHex(line.substr(0, 4)) && line.substr(4, 2) == "  ")
      vendors_.emplace_back(HexValue(line.substr(0, 4)), pos);
    else if (line.size() > 6 && line.substr(0, 2) == "C " && IsHex(line.substr(2, 2)))
      classes_.emplace_back(HexValue(line.substr(2, 2)), pos);
    pos = end + 1;
  }
}

std::string DeviceIds::lookup(const std::vector<std::pair<unsigned, std::size_t>>& index, unsigned key, int sub,
                              unsigned subKey) const {
  const auto it = std::find_if(index.begin(), index.end(), [&](const auto& e) { return e.first == key; });
  if (it == index.end()) return {};
  std::size_t pos = it->second;
  std::size_t end = text_.find('\n', pos);
  if (end == std::string_view::npos) end = text_.size();
  const std::string_view top = text_.substr(pos, end - pos);
  const std::size_t nameAt = top.find("  ");
  if (sub == 0) return TrimmedCopy(top.substr(nameAt + 2));
  // The entries of one tab below it, up to the next line without a tab.
  for (pos = end + 1; pos < text_.size(); pos = end + 1) {
    end = text_.find('\n', pos);
    if (end == std::string_view::npos) end = text_.size();
    const std::string_view line = text_.substr(pos, end - pos);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] != '\t') break;
    if (line.size() > 1 && line[1] == '\t') continue;
    const std::size_t gap = line.find("  ");
    if (gap == std::string_view::npos) continue;
    const std::string_view id = line.substr(1, gap - 1);
    if (IsHex(id) && HexValue(id) == subKey) return TrimmedCopy(line.substr(gap + 2));
  }
  return {};
}

std::string DeviceIds::Vendor(unsigned vendor) const { return lookup(vendors_, vendor, 0, 0); }
std::string DeviceIds::Device(unsigned vendor, unsigned device) const { return lookup(vendors_, vendor, 1, device); }
std::string DeviceIds::Class(unsigned cls) const { return lookup(classes_, cls, 0, 0); }
std::string DeviceIds::Subclass(unsigned cls, unsigned subclass) const {
  return lookup(classes_, cls, 1, subclass);
}

namespace {

struct HardwareClass {
  std::string name;
  std::vector<std::string> devices;
};

// Classes in ascending order, letter case ignored; a class spelled otherwise
// than an equal one goes before it. Devices likewise, a newer equal name
// before the older.
void AddDevice(std::vector<HardwareClass>& classes, const std::string& cls, const std::string& device) {
  auto it = std::find_if(classes.begin(), classes.end(),
                         [&](const HardwareClass& c) { return CompareIgnoringCase(c.name, cls) >= 0; });
  if (it == classes.end() || it->name != cls) it = classes.insert(it, {cls, {}});
  auto d = std::find_if(it->devices.begin(), it->devices.end(),
                        [&](const std::string& n) { return CompareIgnoringCase(n, device) >= 0; });
  it->devices.insert(d, device);
}

std::string DriverText(const std::string& devicePath, const std::string& sysRoot) {
  const std::string target = LinkTarget(devicePath + "/driver");
  if (target.empty()) return {};
  const std::string name = FileNameOf(target);
  // The module's version when it is a loadable module that names one.
  std::string module = FileNameOf(LinkTarget(devicePath + "/driver/module"));
  if (module.empty()) module = name;
  const std::string version = FirstLine(sysRoot + "/module/" + module + "/version");
  return " (driver " + name + (version.empty() ? "" : " " + version) + ")";
}

std::vector<std::string> DeviceFolders(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Hex4(unsigned v) { return PadText(HexText(v), 4, '0'); }

}  // namespace

std::string HardwareListFrom(const std::string& sysRoot, std::string_view pciIds, std::string_view usbIds) {
  std::vector<HardwareClass> classes;
  const DeviceIds pci(pciIds), usb(usbIds);
  // PCI, named as lspci names them.
  const std::string pciFolder = sysRoot + "/bus/pci/devices";
  for (const std::string& slot : DeviceFolders(pciFolder)) {
    const std::string path = pciFolder + "/" + slot;
    const unsigned code = HexValue(FirstLine(path + "/class").substr(2));
    const unsigned vendor = HexValue(FirstLine(path + "/vendor").substr(2));
    const unsigned device = HexValue(FirstLine(path + "/device").substr(2));
    const unsigned base = (code >> 16) & 0xFF, sub = (code >> 8) & 0xFF;
    std::string cls = pci.Subclass(base, sub);
    if (cls.empty()) {
      const std::string baseName = pci.Class(base);
      cls = (baseName.empty() ? std::string("Class") : baseName) + " [" + PadText(HexText(base), 2, '0') +
            PadText(HexText(sub), 2, '0') + "]";
    }
    std::string vendorName = pci.Vendor(vendor);
    if (vendorName.empty()) vendorName = "Vendor " + Hex4(vendor);
    std::string deviceName = pci.Device(vendor, device);
    if (deviceName.empty()) deviceName = "Device " + Hex4(device);
    AddDevice(classes, cls, vendorName + " " + deviceName + DriverText(path, sysRoot));
  }
  // USB devices (not their interfaces); the class of a device that leaves it
  // to its interfaces comes from the first interface.
  const std::string usbFolder = sysRoot + "/bus/usb/devices";
  for (const std::string& name : DeviceFolders(usbFolder)) {
    if (name.find(':') != std::string::npos) continue;
    const std::string path = usbFolder + "/" + name;
    const std::string vendorText = FirstLine(path + "/idVendor");
    if (vendorText.empty()) continue;
    const unsigned vendor = HexValue(vendorText), product = HexValue(FirstLine(path + "/idProduct"));
    unsigned cls = HexValue(FirstLine(path + "/bDeviceClass"));
    std::string interfacePath;
    for (const std::string& sub : DeviceFolders(path))
      if (sub.starts_with(name + ":")) {
        interfacePath = path + "/" + sub;
        break;
      }
    if (cls == 0 && !interfacePath.empty()) cls = HexValue(FirstLine(interfacePath + "/bInterfaceClass"));
    std::string className = usb.Class(cls);
    if (className.empty()) className = "USB class [" + PadText(HexText(cls), 2, '0') + "]";
    std::string vendorName = usb.Vendor(vendor);
    if (vendorName.empty()) vendorName = FirstLine(path + "/manufacturer");
    if (vendorName.empty()) vendorName = "Vendor " + Hex4(vendor);
    std::string productName = usb.Device(vendor, product);
    if (productName.empty()) productName = FirstLine(path + "/product");
    if (productName.empty()) productName = "Device " + Hex4(product);
    std::string driver = interfacePath.empty() ? std::string() : DriverText(interfacePath, sysRoot);
    AddDevice(classes, className, vendorName + " " + productName + driver);
  }
  std::vector<std::string> out;
  for (const HardwareClass& c : classes) {
    out.push_back("+ " + c.name);
    for (const std::string& d : c.devices) out.push_back("  - " + d);
  }
  return JoinLines(out);
}

std::string HardwareListText() {
  static const auto& pciIds = *new std::string(ReadSystemFile("/usr/share/misc/pci.ids"));
  static const auto& usbIds = *new std::string(ReadSystemFile("/usr/share/misc/usb.ids"));
  return HardwareListFrom("/sys", pciIds, usbIds);
}

std::vector<ReportPlugin> StandardReportPlugins() {
  return {
      {"modules", "list of loaded modules", [](IZeqException*) { return ModuleListText(); }, true},
      {"processes", "list of running processes", [](IZeqException*) { return ProcessListText(); }, true},
      {"hardware", "list of installed hardware", [](IZeqException*) { return HardwareListText(); }, true},
  };
}

}  // namespace zeb
