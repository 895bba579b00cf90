// The crash reporter's tools: the operating-system record, the version, ticks
// across their wrap, unmangled names and the main-thread dispatcher.

#include <gtest/gtest.h>

#include <thread>

#include "crashreport/zebTools.h"

using namespace zeb;

TEST(zebTools, OperatingSystemRecord) {
  const TOS os = OperatingSystemFrom("NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n", "6.1.0-18-amd64", true);
  EXPECT_EQ(os.description, "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(os.major, 6u);
  EXPECT_EQ(os.minor, 1u);
  EXPECT_EQ(os.build, 0u);
  EXPECT_EQ(os.buildText, "6.1.0-18-amd64");
  const TOS bare = OperatingSystemFrom("", "garbage", false);
  EXPECT_EQ(bare.description, "Linux");
  EXPECT_EQ(bare.major, 0u);
  EXPECT_FALSE(OperatingSystem().description.empty());
}

TEST(zebTools, VersionAndTicks) {
  EXPECT_EQ(FileVersionText(FileVersion()), "0.1.0.0");
  EXPECT_EQ(FileVersionText(0x0001000200030004ull), "1.2.3.4");
  EXPECT_EQ(ElapsedTicks(0xFFFFFF00u, 0x100u), 0x200u);
  EXPECT_EQ(ElapsedTicks(5, 5), 0u);
}

TEST(zebTools, UnmangleExportName) {
  struct Case {
    const char* mangled;
    bool ok;
    const char* name;
    const char* unit;
  };
  const Case cases[] = {
      {"_ZN3zeb10TempFolderEv", true, "TempFolder()", "zeb"},
      {"_ZN3zeb13TIZeqSettingsD2Ev", true, "TIZeqSettings::~TIZeqSettings()", "zeb"},
      {"_Z3fooi", true, "foo(int)", ""},
      {"main", false, "main", ""},
      {"_Zgarbage", false, "_Zgarbage", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mangled);
    std::string name = c.mangled, unit;
    EXPECT_EQ(UnmangleExportName(name, unit), c.ok);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(unit, c.unit);
  }
}

TEST(zebTools, DispatcherRunsPostedCallsOnTheMainThread) {
  MainThreadDispatcher& dispatcher = MainThreadDispatcher::Instance();
  dispatcher.SetMainThread();
  std::vector<int> ran;
  std::uint32_t first = 0, second = 0;
  std::thread worker([&] {
    first = dispatcher.Post([&] { ran.push_back(1); });
    second = dispatcher.Post([&] { throw 1; });
    dispatcher.Post([&] { ran.push_back(3); });
    EXPECT_EQ(dispatcher.RunPendingCalls(), 0);  // not the main thread
  });
  worker.join();
  EXPECT_EQ(first, 1024u);
  EXPECT_EQ(second, 1025u);
  EXPECT_EQ(dispatcher.RunPendingCalls(), 3);
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
  EXPECT_EQ(dispatcher.Post([] {}), 1024u);  // numbers free again
  dispatcher.RunPendingCalls();
}
