#pragma once

// The report's three standard plug-ins, each a section of its own: the loaded
// modules, the running processes and the installed hardware. Each text has
// one line per entry, lines joined by CR LF, without a leading line break.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

class IZeqException;

// What the composition needs to know of a registered plug-in.
struct ReportPlugin {
  std::string name;
  std::string description;
  // The text; the exception may be null (a report of no exception).
  std::function<std::string(IZeqException*)> function;
  bool ownSection = true;
};

// "modules", "processes" and "hardware".
std::vector<ReportPlugin> StandardReportPlugins();

// The executable files mapped into the process, in address order: base (16
// hex digits), file name, version (the numbers the file name ends with, as
// "6" of "libc.so.6"), folder; columns aligned.
std::string ModuleListText();
std::string ModuleListFrom(std::string_view maps);
std::string VersionOfFileName(std::string_view fileName);

// The processes of /proc: id (hex, zero-padded), name, priority, folder.
std::string ProcessListText();
// The priority text of a scheduling policy and nice value ("normal", "high",
// "realtime", ...).
std::string PriorityText(int policy, int nice);

// PCI and USB devices under sysRoot ("/sys"), grouped by class: "+ class"
// and "  - vendor device (driver name version)"; names from the pci.ids and
// usb.ids texts.
std::string HardwareListText();
std::string HardwareListFrom(const std::string& sysRoot, std::string_view pciIds, std::string_view usbIds);

// Names of an ids file (pci.ids or usb.ids form).
class DeviceIds {
public:
  explicit DeviceIds(std::string_view text);
  // Empty when unknown.
  std::string Vendor(unsigned vendor) const;
  std::string Device(unsigned vendor, unsigned device) const;
  std::string Class(unsigned cls) const;
  std::string Subclass(unsigned cls, unsigned subclass) const;

private:
  std::string_view text_;
  // Offsets of the vendor lines and of the class lines, by number.
  std::vector<std::pair<unsigned, std::size_t>> vendors_, classes_;
  std::string lookup(const std::vector<std::pair<unsigned, std::size_t>>& index, unsigned key, int sub,
                     unsigned subKey) const;
};

}  // namespace zeb
