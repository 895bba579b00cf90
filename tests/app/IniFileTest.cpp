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

TEST(IniFile, ManySectionsAndRepeatedNamesKeepTheirMeaning) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "[Form" + std::to_string(i) + "]\nCaption=c" + std::to_string(i) + "\n";
  text += "[form7]\ncaption=late\nHint=h\n";  // joins [Form7]; the first Caption still wins
  IniFile ini(text);
  EXPECT_EQ(ini.ReadString("FORM1999", "CAPTION", "?"), "c1999");
  EXPECT_EQ(ini.ReadString("form7", "caption", "?"), "c7");
  EXPECT_EQ(ini.ReadString("Form7", "hint", "?"), "h");
  EXPECT_EQ(ini.ReadSectionValues("Form7").size(), 3u);
  EXPECT_FALSE(ini.SectionExists("Form2000"));
  ini.WriteString("FORM7", "CAPTION", "new");
  EXPECT_EQ(ini.ReadString("form7", "caption", "?"), "new");
  EXPECT_EQ(ini.ReadSectionValues("form7")[1], "caption=late");
}

TEST(IniFile, ToldWhetherItsTextWasUtf8) {
  EXPECT_TRUE(IniFile("[Main]\nLanguageName=Fran\xC3\xA7" "ais\n").Utf8Text());
  EXPECT_FALSE(IniFile("[Main]\nLanguageName=Fran\xE7" "ais\n").Utf8Text());
  EXPECT_FALSE(IniFile("[Main]\nLanguageName=English\n").Utf8Text());
}
