// The module, process and hardware sections: fixtures for their layout and
// names, and the live lists checked against /proc and lspci.

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "crashreport/zebExcept.h"
#include "crashreport/zebPlugins.h"
#include "crashreport/zebStrings.h"
#include "tests/support/TempDir.h"

using namespace zeb;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Hex16(std::uint64_t v) { return PadText(HexText(v), 16, '0'); }

void Write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text << "\n";
}

}  // namespace

TEST(zebPlugins, ModuleListLayoutAndVersions) {
  const std::pair<const char*, const char*> versions[] = {
      {"libc.so.6", "6"}, {"libQt6Core.so.6.4.2", "6.4.2"}, {"crashprobe", ""}, {"ld-linux-x86-64.so.2", "2"},
      {"lib2.so", ""},    {"libx.so.1a", ""},                {".so.7", "7"},
  };
  for (const auto& [name, version] : versions) EXPECT_EQ(VersionOfFileName(name), version) << name;

  const char* maps =
      "555500000000-555500001000 r--p 00000000 08:01 11 /opt/app/prog\n"
      "555500001000-555500002000 r-xp 00001000 08:01 11 /opt/app/prog\n"
      "7f0000000000-7f0000001000 r--p 00000000 08:01 12 /usr/lib/locale/locale-archive\n"
      "7f1000000000-7f1000020000 r--p 00000000 08:01 13 /usr/lib/x86_64-linux-gnu/libc.so.6\n"
      "7f1000020000-7f1000100000 r-xp 00020000 08:01 13 /usr/lib/x86_64-linux-gnu/libc.so.6\n"
      "7f2000000000-7f2000021000 rw-p 00000000 00:00 0 [heap]\n";
  EXPECT_EQ(ModuleListFrom(maps),
            "0000555500000000 prog        /opt/app\r\n"
            "00007f1000000000 libc.so.6 6 /usr/lib/x86_64-linux-gnu");
}

TEST(zebPlugins, LiveModulesStandAtTheirMappedBases) {
  const std::string text = ModuleListText();
  const std::string maps = ReadAll("/proc/self/maps");
  for (const std::string& name : {ProgramFileName(), std::string("libc.so.6")}) {
    SCOPED_TRACE(name);
    // The lowest mapping of the file is its base.
    std::uint64_t base = ~std::uint64_t(0);
    std::istringstream lines(maps);
    std::string line;
    while (std::getline(lines, line))
      if (line.ends_with("/" + name)) base = std::min<std::uint64_t>(base, std::strtoull(line.c_str(), nullptr, 16));
    ASSERT_NE(base, ~std::uint64_t(0));
    EXPECT_NE(text.find(Hex16(base) + " " + name + " "), std::string::npos) << text;
  }
  EXPECT_FALSE(text.starts_with("\r\n"));
}

TEST(zebPlugins, ProcessesWithPriorities) {
  const std::tuple<int, int, const char*> cases[] = {
      {SCHED_OTHER, 0, "normal"},       {SCHED_OTHER, -20, "high"}, {SCHED_OTHER, -5, "above normal"},
      {SCHED_OTHER, 5, "below normal"}, {SCHED_OTHER, 19, "idle"},  {SCHED_BATCH, 0, "normal"},
      {SCHED_IDLE, 0, "idle"},          {SCHED_FIFO, 0, "realtime"}, {SCHED_RR, 3, "realtime"},
  };
  for (const auto& [policy, nice, text] : cases) EXPECT_EQ(PriorityText(policy, nice), text);

  const std::string list = ProcessListText();
  const std::string pid = HexText(std::uint64_t(getpid()));
  std::istringstream lines(list);
  std::string line, own;
  std::size_t width = 0;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    width = width ? width : line.find(' ');
    EXPECT_EQ(line.find(' '), width) << line;  // ids zero-padded to one width
    const std::string id = line.substr(0, line.find(' '));
    if (id.substr(id.find_first_not_of('0')) == pid) own = line;
  }
  ASSERT_FALSE(own.empty()) << list;
  EXPECT_NE(own.find(" " + ProgramFileName() + " "), std::string::npos) << own;
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  EXPECT_TRUE(own.ends_with(fs::path(exe).parent_path().string())) << own;
}

TEST(zebPlugins, HardwareFromAFixtureTree) {
  testsupport::TempDir dir;
  const fs::path sys = dir.path();
  const std::string pciIds =
      "# comment\n"
      "8086  Intel Corporation\n"
      "\t0d57  Some Host Bridge\n"
      "\t\t8086 0001  Subsystem\n"
      "1af4  Red Hat, Inc.\n"
      "\t1042  Virtio 1.0 block device\n"
      "C 01  Mass storage controller\n"
      "\t00  SCSI storage controller\n"
      "C 06  Bridge\n"
      "\t00  Host bridge\n"
      "C ff  Unassigned class\n";
  const std::string usbIds =
      "1d6b  Linux Foundation\n"
      "\t0002  2.0 root hub\n"
      "C 09  Hub\n"
      "\t00  Unused\n";
  auto pci = [&](const std::string& slot, const char* cls, const char* vendor, const char* device) {
    const fs::path p = sys / "bus/pci/devices" / slot;
    Write(p / "class", cls);
    Write(p / "vendor", vendor);
    Write(p / "device", device);
    return p;
  };
  pci("0000:00:00.0", "0x060000", "0x8086", "0x0d57");
  const fs::path disk = pci("0000:00:02.0", "0x010000", "0x1af4", "0x1042");
  pci("0000:00:03.0", "0x010000", "0x1af4", "0x1041");  // a device the ids do not know
  pci("0000:00:04.0", "0xffff00", "0x1234", "0x0001");  // nor its vendor or subclass
  fs::create_directories(sys / "bus/pci/drivers/virtio-pci");
  fs::create_directory_symlink(sys / "bus/pci/drivers/virtio-pci", disk / "driver");
  Write(sys / "module/virtio_pci/version", "1.0");
  fs::create_directories(sys / "module/virtio_pci");
  fs::create_directory_symlink(sys / "module/virtio_pci", sys / "bus/pci/drivers/virtio-pci/module");
  const fs::path hub = sys / "bus/usb/devices/usb1";
  Write(hub / "idVendor", "1d6b");
  Write(hub / "idProduct", "0002");
  Write(hub / "bDeviceClass", "09");
  Write(sys / "bus/usb/devices/usb1:1.0/bInterfaceClass", "09");  // an interface: no entry of its own

  EXPECT_EQ(HardwareListFrom(sys.string(), pciIds, usbIds),
            "+ Host bridge\r\n"
            "  - Intel Corporation Some Host Bridge\r\n"
            "+ Hub\r\n"
            "  - Linux Foundation 2.0 root hub\r\n"
            "+ SCSI storage controller\r\n"
            "  - Red Hat, Inc. Device 1041\r\n"
            "  - Red Hat, Inc. Virtio 1.0 block device (driver virtio-pci 1.0)\r\n"
            "+ Unassigned class [ffff]\r\n"
            "  - Vendor 1234 Device 0001");
  EXPECT_EQ(HardwareListFrom((sys / "none").string(), pciIds, usbIds), "");
}

TEST(zebPlugins, LiveHardwareAgreesWithLspci) {
  std::error_code ec;
  if (fs::is_empty("/sys/bus/pci/devices", ec) || ec) GTEST_SKIP() << "no PCI devices here";
  FILE* p = popen("lspci -mm 2>/dev/null", "r");
  if (!p) GTEST_SKIP() << "no lspci";
  std::string out;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  if (pclose(p) != 0 || out.empty()) GTEST_SKIP() << "lspci gave nothing";
  const std::string ours = HardwareListText();
  std::istringstream lines(out);
  std::string line;
  int checked = 0;
  while (std::getline(lines, line)) {
    // slot "class" "vendor" "device" ...
    std::vector<std::string> quoted;
    for (std::size_t a = line.find('"'); a != std::string::npos && quoted.size() < 3;) {
      const std::size_t b = line.find('"', a + 1);
      quoted.push_back(line.substr(a + 1, b - a - 1));
      a = line.find('"', b + 1);
    }
    ASSERT_EQ(quoted.size(), 3u) << line;
    EXPECT_NE(ours.find("+ " + quoted[0] + "\r\n"), std::string::npos) << quoted[0] << "\n" << ours;
    EXPECT_NE(ours.find("  - " + quoted[1] + " " + quoted[2]), std::string::npos) << line << "\n" << ours;
    ++checked;
  }
  EXPECT_GT(checked, 0);
}
