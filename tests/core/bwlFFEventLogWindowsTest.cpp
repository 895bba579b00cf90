#include "core/bwlFFEventLogWindows.h"

#include <gtest/gtest.h>

#include "core/bwlRegistry.h"
#include "tests/core/RecordingEventLog.h"
#include "tests/support/TempDir.h"

TEST(EventLog, RegisteringASourceWritesItsKey) {
  testsupport::TempRegistry registry;
  const std::string key = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
  ASSERT_TRUE(RegisterEventLogSource("Application", "BWL HiveManager", "", 7, 2));
  ASSERT_TRUE(RegisterEventLogSource("Application", "Other", "%SystemRoot%\\x.dll", 4, 0));

  TMyRegistry64 reg;
  reg.SetRootKey(platform::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKeyReadOnly(key + "BWL HiveManager"));
  EXPECT_EQ(reg.GetDataType("EventMessageFile"), rdExpandString);
  EXPECT_EQ(reg.ReadString("EventMessageFile"), "");
  EXPECT_EQ(reg.ReadCardinal("TypesSupported"), 7u);
  EXPECT_EQ(reg.ReadString("CategoryMessageFile"), "");
  EXPECT_EQ(reg.ReadCardinal("CategoryCount"), 2u);
  // Without categories no category values.
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\" + key + "Other"));
  EXPECT_EQ(reg.ReadString("EventMessageFile"), "%SystemRoot%\\x.dll");
  EXPECT_FALSE(reg.ValueExists("CategoryCount"));
  EXPECT_FALSE(reg.ValueExists("CategoryMessageFile"));
}

TEST(EventLog, EntriesGoToTheSinkAsOneEvent) {
  RecordingEventLog log;
  EXPECT_TRUE(WriteEventLogEntry(EVENTLOG_WARNING_TYPE, 1, "BWL HiveManager", "a\r\nb"));
  ASSERT_EQ(log.events.size(), 1u);
  EXPECT_EQ(log.events[0].eventId, 100u);
  EXPECT_EQ(log.events[0].source, "BWL HiveManager");
  EXPECT_EQ(log.events[0].text, "a\r\nb");
}
