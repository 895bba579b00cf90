// The listing linked into reports: a fault's report carries the faulting
// function in its "disassembling" section, with the marker on the faulting
// instruction.

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "crashreport/zebDisAsmText.h"
#include "crashreport/zebMapFile.h"
#include "tests/crashreport/FaultReport.h"

using namespace zeb;

namespace {

volatile int* volatile nowhere = nullptr;

__attribute__((noinline)) void WriteNowhereForListing() {
  *nowhere = 1;
  asm volatile("" ::: "memory");
}

}  // namespace

TEST(zebLinkDisAsm, TheReportListsTheFaultingFunctionWithTheMarkerOnTheFaultingMov) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer owns SIGSEGV";
#endif
  const TDisAsmHook savedHook = DisAsmHook;
  const TDisAsmHooks savedHooks = DisAsmHooks();
  LinkDisAsm();
  InstallDebugInfoHooks();
  const std::string report = faultreport::ReportOfFault([] { WriteNowhereForListing(); });
  DisAsmHook = savedHook;
  DisAsmHooks() = savedHooks;
  SCOPED_TRACE(report);
  const std::string listing = faultreport::Section(report, "disassembling");
  ASSERT_FALSE(listing.empty());
  EXPECT_NE(listing.find("WriteNowhereForListing"), std::string::npos);
  std::istringstream lines(listing);
  std::string line, marked;
  int markers = 0;
  while (std::getline(lines, line))
    if (std::regex_search(line, std::regex("^[0-9a-f]{16} [ 0-9]*> "))) {  // address, line column, marker
      marked = line;
      ++markers;
    }
  EXPECT_EQ(markers, 1);
  EXPECT_NE(marked.find("mov"), std::string::npos) << marked;
  EXPECT_NE(marked.find("dword ptr [r"), std::string::npos) << marked;
}
