#include <gtest/gtest.h>

#include "app/ChangeLogEntries.h"

TEST(ChangeLogEntries, NewestFirstKeepsTheHeaderAndEachEntrysOwnOrder) {
  const std::vector<std::string> lines{"REGEDIT4", "", "[A]", "\"v\"=\"1\"", "", "[B]", "", "[-C]", "\"x\"=-"};
  ChangeLogEntries entries;
  entries.Begin(1);
  entries.Begin(4);
  entries.Begin(6);
  EXPECT_EQ(entries.NewestFirst(lines), (std::vector<std::string>{"REGEDIT4", "", "[-C]", "\"x\"=-", "", "[B]", "",
                                                                   "[A]", "\"v\"=\"1\""}));

  // An entry that added no lines, and one of a change that did not happen.
  entries.Begin(6);
  EXPECT_EQ(entries.Count(), 3);
  entries.DropFrom(4);
  EXPECT_EQ(entries.Count(), 1);
  EXPECT_EQ(entries.NewestFirst(lines), lines);
  entries.Begin(20);  // past the end: ignored
  EXPECT_EQ(entries.NewestFirst(lines), lines);
  EXPECT_EQ(ChangeLogEntries().NewestFirst(lines), lines);
}
