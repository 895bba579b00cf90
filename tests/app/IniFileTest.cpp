#include <gtest/gtest.h>

#include "app/IniFile.h"

TEST(IniFile, ParsesSectionsKeysAndValuesLikeLanguageFiles) {
  IniFile ini("; comment\r\n[Main]\r\nLanguageName = Deutsch \r\nFontUTF8=1\r\n\r\n[Messages]\nA=x=y\nb=\n"
              "[main]\nUse=Use german\rlast=1");
  EXPECT_EQ(ini.ReadString("MAIN", "languagename", "?"), "Deutsch");
  EXPECT_TRUE(ini.ReadBool("Main", "FontUTF8", false));
  EXPECT_EQ(ini.ReadString("Messages", "a", "?"), "x=y");
  EXPECT_TRUE(ini.ValueExists("Messages", "B"));
  EXPECT_EQ(ini.ReadString("Messages", "B", "?"), "");
  EXPECT_FALSE(ini.ValueExists("Messages", "c"));
  EXPECT_EQ(ini.ReadString("Main", "Use", "?"), "Use german");  // a repeated section joins the first
  EXPECT_EQ(ini.ReadInteger("Main", "last", 0), 1);
  EXPECT_EQ(ini.ReadInteger("Main", "LanguageName", 7), 7);
  ASSERT_EQ(ini.ReadSectionValues("messages").size(), 2u);
  EXPECT_EQ(ini.ReadSectionValues("messages")[0], "A=x=y");
}

TEST(IniFile, WritesAndReadsBack) {
  IniFile ini;
  ini.WriteString("Dialogs", "ButtonYes", "Yes");
  ini.WriteString("dialogs", "buttonyes", "Ja");
  ini.WriteString("Main", "LanguageName", "English");
  IniFile back(ini.Text());
  EXPECT_EQ(back.ReadString("Dialogs", "ButtonYes", "?"), "Ja");
  EXPECT_EQ(back.ReadSectionValues("Dialogs").size(), 1u);
  EXPECT_EQ(back.ReadString("Main", "LanguageName", "?"), "English");
}
