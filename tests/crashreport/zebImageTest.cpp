// Symbols and build ids of the program's own ELF image, found from run-time
// addresses through the module list.

#include <gtest/gtest.h>

#include <fstream>

#include "crashreport/zebImage.h"
#include "crashreport/zebTools.h"
#include "tests/support/TempDir.h"

using namespace zeb;

TEST(zebImage, NearestSymbolOfARunTimeAddress) {
  const auto address = reinterpret_cast<std::uintptr_t>(&TickCount);
  TModule module;
  ASSERT_TRUE(ModuleOfAddress(address, module));
  EXPECT_EQ(module.fileName, ProgramFileName());
  EXPECT_EQ(ExportNameOf(address, false), "_ZN3zeb9TickCountEv");
  EXPECT_EQ(ExportNameOf(address + 3, true), "zeb.TickCount()+0x3");
  EXPECT_EQ(ExportNameOf(0x10, true), "");
}

TEST(zebImage, BuildIdAndFilesThatAreNoImage) {
  TModule module;
  ASSERT_TRUE(ModuleOfAddress(reinterpret_cast<std::uintptr_t>(&TickCount), module));
  const ElfImage image(module.path);
  ASSERT_TRUE(image.IsValid());
  EXPECT_EQ(image.BuildId().size() % 2, 0u);
  EXPECT_EQ(image.BuildId().find_first_not_of("0123456789abcdef"), std::string::npos);

  testsupport::TempDir dir;
  std::ofstream(dir / "text") << "not an image at all";
  std::ofstream(dir / "cut", std::ios::binary).write("\x7f" "ELF\x02\x01\x01", 7);
  for (const char* name : {"text", "cut", "missing"}) {
    SCOPED_TRACE(name);
    const ElfImage none((dir / name).string());
    EXPECT_FALSE(none.IsValid() && none.SymbolAt(0x1000));
    EXPECT_EQ(none.BuildId(), "");
  }
}
