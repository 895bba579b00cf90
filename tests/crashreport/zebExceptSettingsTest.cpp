// The settings objects: built-in values, typed reads and writes, the program's
// own resource, shared module records, stored passwords, plug-ins, assistants
// and the form cache.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptSettings.h"

using namespace zeb;

namespace {

// A module of its own number for each test, registered with a resource made
// from a readable table and unregistered afterwards.
class TestModule {
public:
  TestModule(ModuleId id, const std::string& table, std::uintptr_t codeStart = 0, std::uintptr_t codeEnd = 0)
      : id_(id) {
    std::string error;
    const auto bytes = WriteSettingsResource(ParseSettingsTable(table, &error));
    EXPECT_TRUE(error.empty()) << error;
    RegisterSettingsModule(id, bytes, "plugin.so", codeStart, codeEnd);
  }
  ~TestModule() { RegisterSettingsModule(id_, {}, {}); }
  ModuleId id() const { return id_; }

private:
  ModuleId id_;
};

}  // namespace

TEST(zebExceptSettings, BuiltinTableHoldsEverySettingOnce) {
  const auto table = BuiltinSettings();
  ASSERT_EQ(table.size(), 121u);
  EXPECT_EQ(table.front().name, "Enabled");
  EXPECT_EQ(table.back().name, "VersionVar");
}

TEST(zebExceptSettings, MissingSettingsTakeBuiltinValues) {
  TestModule module(101, "Enabled bool true");
  TIZeqSettings settings(module.id(), true);
  ASSERT_TRUE(settings.HasSettings());
  EXPECT_TRUE(settings.Enabled());
  EXPECT_TRUE(settings.AutoSave());
  EXPECT_EQ(settings.ScrShotDepth(), 0);
  EXPECT_EQ(settings.SendBtnTxt(), "send bug report");
  EXPECT_EQ(settings.FreezeTimeout(), 60);
  settings.SetScrShotDepth(16);
  EXPECT_EQ(settings.ScrShotDepth(), 16);
}

TEST(zebExceptSettings, WritesStoreOnlyIntoEntriesOfTheirKind) {
  struct Case {
    const char* table;
    bool stored;
    bool autoSaveAfter;
  };
  const Case cases[] = {
      {"AutoSave bool true", false, true},  // the entry is boolean: the integer write fails
      {"Enabled bool true", true, false},   // a new integer entry, whose boolean field is false
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    TestModule module(102, c.table);
    TIZeqSettings settings(module.id(), true);
    EXPECT_EQ(settings.WriteIntSetting("AutoSave", 5), c.stored);
    EXPECT_EQ(settings.AutoSave(), c.autoSaveAfter);
    EXPECT_FALSE(settings.WriteTextSetting("AutoSave", "x"));
  }
}

TEST(zebExceptSettings, ModuleWithoutResourceIsInvalidAndRefusesWrites) {
  TIZeqSettings settings(103, true);
  EXPECT_FALSE(settings.HasSettings());
  EXPECT_FALSE(settings.WriteBoolSetting("AutoSave", false));
  EXPECT_TRUE(settings.AutoSave());
}

TEST(zebExceptSettings, TextReadsExpandAllButMessageAndReport) {
  TestModule module(104, "Enabled bool true\nExceptMsg text %exceptMsg% in %modname%%LF%%bugReport%");
  TIZeqSettings settings(module.id(), true);
  EXPECT_EQ(settings.TitleBar(), ProgramFileName());
  EXPECT_EQ(settings.ExceptMsg(), "%exceptMsg% in plugin.so\r\n%bugReport%");
}

TEST(zebExceptSettings, ObjectsOfOneModuleShareTheirRecord) {
  TestModule module(105, "Enabled bool true");
  auto first = std::make_unique<TIZeqSettings>(module.id(), true);
  {
    TIZeqSettings second(module.id(), true);
    second.SetMailAddr("a@example.test");
    EXPECT_EQ(first->MailAddr(), "a@example.test");
  }
  EXPECT_EQ(first->MailAddr(), "a@example.test");  // released one, the record stays
  first.reset();
  TIZeqSettings fresh(module.id(), true);  // the last release freed it
  EXPECT_EQ(fresh.MailAddr(), "");
  fresh.SetMailAddr("b@example.test");
  fresh.RereadSettings();
  EXPECT_EQ(fresh.MailAddr(), "");
}

TEST(zebExceptSettings, ProgramResourceGivesThisProgramsValues) {
  TIZeqSettings settings(0, true);
  ASSERT_TRUE(settings.HasSettings());
  EXPECT_TRUE(settings.Enabled());
  EXPECT_FALSE(settings.NoSettings());
  EXPECT_TRUE(settings.HasMinDebugInfo());
  EXPECT_TRUE(settings.UploadViaHttp());
  EXPECT_FALSE(settings.MailViaMapi());
  EXPECT_FALSE(settings.MailViaMailto());
  EXPECT_FALSE(settings.AutoClip());
  EXPECT_TRUE(settings.UglyBtns());
  EXPECT_EQ(settings.FreezeTimeout(), 60000);
  EXPECT_EQ(settings.ScrShotDepth(), 8);
  EXPECT_EQ(settings.F1Classes(), "EDBEditError");
  EXPECT_TRUE(settings.F1NoBugRep());
  EXPECT_TRUE(settings.F1NoScrShot());
  EXPECT_TRUE(settings.F1NoHandlers());
  EXPECT_TRUE(settings.F1NoSuspend());
  EXPECT_EQ(settings.F1ShowCfg(), 3);
  EXPECT_EQ(settings.SendAssis(), "SendAssistant");
  EXPECT_EQ(settings.PrepAttMsg(), "Preparing attachments...");
  EXPECT_TRUE(settings.HttpServer().starts_with("http://"));
  EXPECT_TRUE(settings.HttpServer().ends_with("/submit.php"));
  EXPECT_EQ(settings.AutoDelay(), 60);  // not named: built in
  EXPECT_EQ(settings.ReadTextSetting("Assistant2"), "SaveAssistant|Save Assistant|ContactForm|DetailsForm");
}

TEST(zebExceptSettings, StoredPasswordsReadBackPlain) {
  TestModule module(106,
                    "SmtpServer text mail.example.test\nSmtpAccount text bob\nSmtpPassword password s3cret, long enough\n"
                    "HttpServer text http://up.example.test/\nHttpAccount text ann\nHttpPassword password pw\n");
  TIZeqSettings settings(module.id(), true);
  EXPECT_EQ(settings.SmtpPassword(), "s3cret, long enough");
  EXPECT_EQ(settings.HttpPassword(), "pw");
}

TEST(zebExceptSettings, PluginList) {
  TestModule module(107, "Enabled bool true");
  TIZeqSettings settings(module.id(), true);
  EXPECT_TRUE(settings.IsPluginOn("MODULES"));
  EXPECT_FALSE(settings.IsPluginOn("module"));
  settings.SwitchPlugin("processes", false);
  EXPECT_EQ(settings.Plugins(), "modules|hardware");
  settings.SwitchPlugin("hardware", true);
  EXPECT_EQ(settings.Plugins(), "modules|hardware");
  settings.SwitchPlugin("hardware", false);
  settings.SwitchPlugin("Modules", false);
  EXPECT_EQ(settings.Plugins(), "");
  settings.SwitchPlugin("disks", true);
  EXPECT_EQ(settings.Plugins(), "disks");
}

TEST(zebExceptSettings, AssistantsByName) {
  TestModule module(108,
                    "Assistant1 text SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm\n"
                    "Assistant2 text SaveAssistant|Save Assistant|ContactForm\n"
                    "Assistant4 text HiddenAssistant|Hidden|ContactForm\n");
  TIZeqSettings settings(module.id(), true);
  auto send = settings.AssistantByName("sendassistant");
  ASSERT_TRUE(send);
  EXPECT_EQ(send->title, "Send Assistant");
  std::vector<std::string> forms;
  for (const auto& f : send->forms) forms.push_back(f.name);
  EXPECT_EQ(forms, (std::vector<std::string>{"ContactForm", "DetailsForm"}));
  settings.SetScrShotDepth(8);
  EXPECT_EQ(settings.AssistantByName("SendAssistant")->forms.size(), 3u);
  EXPECT_FALSE(settings.AssistantByName("Nobody"));
  EXPECT_FALSE(settings.AssistantByName("HiddenAssistant"));  // behind the gap at Assistant3
}

TEST(zebExceptSettings, FormCacheRefillsLaterAssistants) {
  TestModule module(109, "Assistant1 text A|A|Contact\n");
  TIZeqSettings settings(module.id(), true);
  auto shown = settings.AssistantByName("A");
  ASSERT_TRUE(shown);
  using Kind = AssistantItem::Kind;
  shown->forms[0].items = {{Kind::Other, "Next", "", false, true},
                           {Kind::Edit, "Mail", "me@example.test", false, true},
                           {Kind::CheckBox, "Copy", "", true, true}};
  shown->forms[0].modalResult = 1;
  settings.SaveFormCache(*shown);

  Assistant later{"A", "A", {{"Contact", 0, {{Kind::Other, "Next", "", false, true}, {Kind::Edit, "Mail", "", false, true},
                                             {Kind::CheckBox, "Copy", "", false, true}}, -1},
                             {"Other", 0, {{Kind::Other, "Next", "", false, true}, {Kind::Edit, "Phone", "", false, true}}, -1}}};
  settings.RestoreFormCache(later);
  EXPECT_EQ(later.forms[0].items[1].text, "me@example.test");
  EXPECT_TRUE(later.forms[0].items[2].checked);
  EXPECT_EQ(later.forms[0].focusedItem, 0);   // all restored: the user may go straight on
  EXPECT_EQ(later.forms[1].focusedItem, -1);  // nothing known for it
}

TEST(zebExceptSettings, ExtraFieldsAndAttachmentsWriteBack) {
  TestModule module(110, "AddFields text a=1|b=2\nAddAttachs text /t/log.txt>log.txt>logs.zip>log\n");
  TIZeqSettings settings(module.id(), true);
  auto fields = settings.ExtraFields();
  EXPECT_EQ(fields->ValueOf("b"), "2");
  fields->Assign("c", "3");
  EXPECT_EQ(settings.AddFields(), "a=1|b=2|c=3");
  auto attachments = settings.ExtraAttachments();
  ASSERT_EQ(attachments->Count(), 1);
  attachments->Append("/t/report.txt");
  EXPECT_EQ(settings.AddAttachs(), "/t/log.txt>log.txt>logs.zip>log|/t/report.txt>report.txt>>report");
}

TEST(zebExceptSettings, OtherModulesFallBackToTheMainSettings) {
  TestModule module(111, "Enabled bool true\nNoSettings bool false", 0x1000, 0x2000);
  SetMainSettings(SettingsOfModule(0));
  TIZeqSettings foreign(module.id(), true);
  EXPECT_EQ(foreign.FreezeTimeout(), 60000);  // the program's value, not the built-in 60
  EXPECT_EQ(SettingsOfAddress(0x1800)->ModuleHandle(), module.id());
  EXPECT_EQ(SettingsOfAddress(0x2800)->ModuleHandle(), 0u);
  SetMainSettings(nullptr);
}
