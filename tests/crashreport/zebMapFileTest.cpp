// Debug information of the test program itself, read through libdw: the unit,
// line and function of addresses whose source position the test knows.

#include <gtest/gtest.h>

#include <cstdlib>

#include "crashreport/zebDisAsmText.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebMapFile.h"
#include "crashreport/zebTools.h"

using namespace zeb;

namespace {

__attribute__((noinline)) std::uint64_t CallerAddress() {
  return reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)) - 1;
}

__attribute__((noinline)) int KnownFunction(int v) {
  asm volatile("" : "+r"(v));
  return v * 3 + 1;
}

}  // namespace

TEST(zebMapFile, UnitLineAndPublicOfTheTestItself) {
  const int callLine = __LINE__ + 1;
  const std::uint64_t probe = CallerAddress();
  TMapFilePtr reader = LoadDebugInfo(probe);
  ASSERT_TRUE(reader);
  ASSERT_TRUE(reader->Valid());
  EXPECT_EQ(reader->LineAt(probe), callLine);
  const TMfSegment segment = reader->SegmentAt(true, probe);
  EXPECT_TRUE(segment.valid);
  EXPECT_EQ(segment.unitName, "zebMapFileTest.cpp");
  EXPECT_TRUE(segment.hasLineNumbers);
  EXPECT_LE(segment.start, probe);
  EXPECT_LT(probe, segment.start + segment.length);
  EXPECT_FALSE(reader->SegmentAt(false, probe).valid);  // data is not described

  const auto entry = reinterpret_cast<std::uintptr_t>(&KnownFunction);
  const TMfPublic p = reader->PublicAt(entry + 1);
  ASSERT_TRUE(p.valid);
  EXPECT_EQ(p.address, entry);
  EXPECT_GT(p.size, 1u);
  EXPECT_NE(p.name.find("KnownFunction"), std::string::npos);
  EXPECT_FALSE(reader->PublicAt(entry + p.size).valid && reader->PublicAt(entry + p.size).address == entry);
  EXPECT_NE(ProcNameAt(entry).find("KnownFunction(int)"), std::string::npos);
  EXPECT_EQ(ProcNameAt(entry + 1), "");

  EXPECT_EQ(reader->PublicByName(true, "zebMapFileTest", true, p.name), entry);
  EXPECT_EQ(reader->PublicByName(true, "ZEBMAPFILETEST.CPP", true, p.name), entry);
  EXPECT_EQ(reader->PublicByName(true, "otherUnit", true, p.name), 0u);
  EXPECT_EQ(reader->PublicByName(true, "zebMapFileTest", true, "noSuchName"), 0u);
  // Below the module's first public nothing is found.
  ASSERT_FALSE(reader->Publics().empty());
  EXPECT_FALSE(reader->PublicAt(reader->Publics().front().address - 1).valid);
}

TEST(zebMapFile, ReadersAreCachedPerModuleAndAddressesOutsideFilesHaveNone) {
  const auto here = reinterpret_cast<std::uintptr_t>(&KnownFunction);
  TMapFilePtr a = LoadDebugInfo(here);
  TMapFilePtr b = LoadDebugInfo(here + 16);
  EXPECT_EQ(a.get(), b.get());
  EXPECT_NE(LoadDebugInfo(reinterpret_cast<std::uintptr_t>(&std::abort)).get(), a.get());
  EXPECT_EQ(LoadDebugInfo(reinterpret_cast<std::uintptr_t>(&std::abort))->PublicAt(
                reinterpret_cast<std::uintptr_t>(&std::abort)).name,
            "abort");
  int onTheStack = 0;
  EXPECT_FALSE(LoadDebugInfo(reinterpret_cast<std::uintptr_t>(&onTheStack)));
  std::unique_ptr<int> onTheHeap(new int(1));
  EXPECT_FALSE(AddressInfo(reinterpret_cast<std::uintptr_t>(onTheHeap.get())).found);
}

TEST(zebMapFile, AddressInfoAndTheListingHooks) {
  const int callLine = __LINE__ + 1;
  const std::uint64_t probe = CallerAddress();
  const TAddressInfo info = AddressInfo(probe);
  ASSERT_TRUE(info.found);
  EXPECT_EQ(FileNameOf(info.moduleFileName), ProgramFileName());
  EXPECT_EQ(info.unitName, "zebMapFileTest.cpp");
  EXPECT_EQ(info.line, callLine);
  EXPECT_NE(info.publicName.find("AddressInfoAndTheListingHooks"), std::string::npos);

  // The line range a lookup gives holds the line until the address leaves it.
  int line = 0;
  std::uint64_t start = 0, end = 0;
  LineNumberAt(probe, line, start, end);
  EXPECT_EQ(line, callLine);
  EXPECT_EQ(start, probe);
  EXPECT_GT(end, probe);
  line = -7;
  LineNumberAt(probe, line, start, end);
  EXPECT_EQ(line, -7);

  const TDisAsmHooks saved = DisAsmHooks();
  InstallDebugInfoHooks();
  const auto entry = reinterpret_cast<std::uintptr_t>(&KnownFunction);
  EXPECT_NE(DisAsmHooks().nameOf(entry).find("KnownFunction"), std::string::npos);
  EXPECT_EQ(DisAsmHooks().moduleOf(entry), "");  // the program's own module
  EXPECT_EQ(DisAsmHooks().moduleOf(reinterpret_cast<std::uintptr_t>(&std::abort)).rfind("libc.so", 0), 0u);
  EXPECT_EQ(DisAsmHooks().lineOf(probe), unsigned(callLine));
  DisAsmHooks() = saved;
}
