// The header's machine and process texts: the duration wording, memory and
// mapping fixtures, and the live sources where their form is known.

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstdlib>

#include "crashreport/zebStrings.h"
#include "crashreport/zebSysInfo.h"

using namespace zeb;

TEST(zebSysInfo, DurationText) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {90061, "1 day 1 hour "},     {3725, "1 hour 2 minutes "}, {0, ""},
      {59, "59 seconds "},          {86400, "1 day "},           {-5, ""},
      {60, "1 minute "},            {61, "1 minute 1 second "},  {2 * 86400 + 5 * 3600, "2 days 5 hours "},
      {7200 + 59, "2 hours "},      {3 * 86400 + 59, "3 days "},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(DurationText(seconds), text) << seconds;
}

TEST(zebSysInfo, MemoryAndAnonymousMappingsFromTheirFiles) {
  EXPECT_EQ(MemoryStatusFrom("MemTotal:       16314444 kB\nMemFree:  100 kB\nMemAvailable:    9000000 kB\n"),
            "8789/15932 MB (free/total)");
  EXPECT_EQ(MemoryStatusFrom("MemTotal: 2048 kB\nMemFree: 512 kB\n"), "1/2 MB (free/total)");  // rounded
  EXPECT_EQ(MemoryStatusFrom("nothing here"), "");

  const char* maps =
      "55d0a0000000-55d0a0001000 r--p 00000000 08:01 1234 /usr/bin/prog\n"
      "55d0a1000000-55d0a1021000 rw-p 00000000 00:00 0    [heap]\n"
      "7f0000000000-7f0000100000 rw-p 00000000 00:00 0 \n"
      "7f0000100000-7f0000200000 ---p 00000000 00:00 0 \n"
      "7f0000200000-7f0000201000 rw-s 00000000 00:05 77 /dev/zero (deleted)\n"
      "7ffd00000000-7ffd00021000 rw-p 00000000 00:00 0    [stack]\n"
      "7ffd00100000-7ffd00102000 r-xp 00000000 00:00 0    [vdso]\n";
  EXPECT_EQ(AnonymousBytesFrom(maps), 0x21000u + 0x100000u + 0x21000u);
  EXPECT_FALSE(AllocatedMemoryText().empty());
}

TEST(zebSysInfo, LanguageOfTheLocale) {
  EXPECT_EQ(LanguageName("de"), "German");
  EXPECT_EQ(LanguageName("FR"), "French");
  EXPECT_EQ(LanguageName("qq"), "qq");
  const char* saved = std::getenv("LC_ALL");
  const std::string keep = saved ? saved : "";
  setenv("LC_ALL", "de_AT.UTF-8@euro", 1);
  EXPECT_EQ(OsLanguageText(), "German");
  setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_EQ(OsLanguageText(), "English");
  if (saved)
    setenv("LC_ALL", keep.c_str(), 1);
  else
    unsetenv("LC_ALL");
}

TEST(zebSysInfo, LiveSourcesHaveTheirForms) {
  utsname u{};
  ASSERT_EQ(uname(&u), 0);
  const std::string os = OsVersionText();
  EXPECT_EQ(os.substr(os.size() - std::string(u.release).size() - 7), std::string(" build ") + u.release);
  EXPECT_GE(ProcessorCount(), 1);
  const std::string cpu = ProcessorName();
  EXPECT_EQ(cpu.find("  "), std::string::npos);
  EXPECT_EQ(cpu, TrimmedCopy(cpu));
  // The test process is young, but its up time is measured, never empty.
  const std::string up = ProgramUpTimeText();
  EXPECT_TRUE(up.ends_with(" milliseconds") || up.ends_with("second ") || up.ends_with("seconds ") ||
              up.ends_with("minute ") || up.ends_with("minutes "))
      << up;
  EXPECT_FALSE(SystemUpTimeText().empty());
  EXPECT_EQ(MemoryStatusText().find(" MB (free/total)") != std::string::npos, true);
  // A folder that does not exist is asked through its nearest parent.
  EXPECT_EQ(DriveFreeText("/proc/no/such/folder").rfind("(/proc) ", 0), 0u);
  EXPECT_EQ(DriveFreeText("/").rfind("(/) ", 0), 0u);
  EXPECT_FALSE(FreeDiskSpaceText().empty());
  EXPECT_FALSE(UserNameText().empty());
  // Only a program given arguments has a command line item.
  const std::string command = CommandLineText();
  EXPECT_TRUE(command.empty() || command.find(" -") != std::string::npos) << command;
  EXPECT_FALSE(CompilerText().empty());
  EXPECT_EQ(DisplayModeText(), "");
  SetDisplayModeSource([] { return std::string("1920x1080, 24 bit"); });
  EXPECT_EQ(DisplayModeText(), "1920x1080, 24 bit");
  SetDisplayModeSource(nullptr);
}
