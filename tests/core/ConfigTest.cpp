#include <gtest/gtest.h>

#include "core/bwlConfig.h"
#include "core/bwlRegTools.h"
#include "core/kxMulticonfigRead.h"
#include "platform/Security.h"
#include "tests/support/TempDir.h"

using namespace platform;

namespace {

// A window that records what the settings object does to it.
class RecorderForm : public ConfigForm {
public:
  explicit RecorderForm(std::string name) : name_(std::move(name)) {}
  std::string Name() const override { return name_; }
  int Left() const override { return bump(), left; }
  int Top() const override { return top; }
  int Width() const override { return width; }
  int Height() const override { return height; }
  void SetLeft(int v) override { left = v, log += "L"; }
  void SetTop(int v) override { top = v, log += "T"; }
  void SetWidth(int v) override { width = v, log += "W"; }
  void SetHeight(int v) override { height = v, log += "H"; }
  int WindowState() const override { return state; }
  void SetWindowState(int s) override { state = s, log += "S"; }

  int left = 10, top = 20, width = 300, height = 200, state = kWindowStateNormal;
  std::string log;
  // The first this many reads of Left fail, as a failing write would.
  mutable int failingReads = 0;

private:
  void bump() const {
    if (failingReads > 0) {
      --failingReads;
      throw ERegistryException("Failed to set data for 'Left'");
    }
  }
  std::string name_;
};

class Config : public ::testing::Test {
protected:
  void SetUp() override { cfg.SetAppName("HivescopeTest"); }
  void TearDown() override {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
      DeleteRegistryKey(root, "\\Software\\Brantwell Limited\\HivescopeTest", ViewByte::v32);
  }
  std::vector<std::string> formValueNames(HKEY root, const std::string& formName) {
    std::vector<std::string> names;
    GetRegistryValueNames(root, "\\Software\\Brantwell Limited\\HivescopeTest\\UI\\Forms\\" + formName, &names,
                          Is64Flag::no);
    std::sort(names.begin(), names.end());
    return names;
  }

  testsupport::TempRegistry tempRegistry_;
  TBWLConfigManager cfg;
};

}  // namespace

TEST(ConfigManagerBasics, KeysAndAppName) {
  TBWLConfigManager cfg;
  EXPECT_EQ(cfg.GetBaseKey(), "\\Software\\Brantwell Limited\\\\");
  int calls = 0;
  std::string order;
  cfg.AddConfigUpdatedHandler([&] { ++calls, order += "1"; });
  cfg.AddConfigUpdatedHandler([&] { order += "2"; });
  cfg.SetAppName("Hivescope");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(order, "12");
  cfg.SetAppName("Hivescope");  // equal: nobody hears of it
  EXPECT_EQ(calls, 1);
  cfg.SetAppName("hivescope");  // case counts
  EXPECT_EQ(calls, 2);
  cfg.SetAppName("Hivescope");
  EXPECT_EQ(cfg.GetBaseKey(), "\\Software\\Brantwell Limited\\Hivescope\\");
  RecorderForm form("formMain");
  EXPECT_EQ(cfg.GetFormKey(form), "\\Software\\Brantwell Limited\\Hivescope\\UI\\Forms\\formMain");
  EXPECT_EQ(cfg.GetRootKeys(), (std::vector<HKEY>{HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}));
}

TEST_F(Config, TheMachineValueWins) {
  cfg.WriteInteger("Both", 1, false);
  cfg.WriteInteger("Both", 2, true);
  cfg.WriteString("UserOnly", "u", false);
  std::int32_t n = 0;
  ASSERT_TRUE(cfg.ReadInteger("Both", n));
  EXPECT_EQ(n, 2);
  std::string s;
  ASSERT_TRUE(cfg.ReadString("UserOnly", s));
  EXPECT_EQ(s, "u");

  // Sub-keys join the base key as they are.
  cfg.WriteBool("Sub\\", "Flag", true, false);
  cfg.WriteFloat("Sub\\", "F", 2.25, false);
  bool b = false;
  double f = 0;
  EXPECT_TRUE(cfg.ReadBool("Sub\\", "Flag", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(cfg.ReadFloat("Sub\\", "F", f));
  EXPECT_EQ(f, 2.25);
  EXPECT_FALSE(cfg.ReadBool("Flag", b));
}

TEST_F(Config, AValueOfAnotherTypeIsNotFound) {
  const std::string base = cfg.GetBaseKey();
  WriteRegistryStringOfKind(HKEY_CURRENT_USER, base, "Expand", Bitness::x32, rdExpandString, "%X%");
  WriteRegistryString(HKEY_CURRENT_USER, base, "BoolAsText", Bitness::x32, "1");
  std::uint8_t four[4] = {};
  {
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(base, true));
    reg.WriteBinaryData("Short", four, 4);
  }
  std::string s = "kept";
  bool b = false;
  EXPECT_FALSE(cfg.ReadString("Expand", s));
  EXPECT_EQ(s, "kept");
  EXPECT_FALSE(cfg.ReadBool("BoolAsText", b));
  EXPECT_FALSE(cfg.ReadString("Missing", s));
  double f = 0;
  EXPECT_THROW(cfg.ReadFloat("Short", f), ERegistryException);  // the reader's own failure passes
}

TEST_F(Config, FormPlacements) {
  RecorderForm saved("formTest");
  ASSERT_TRUE(cfg.SaveFormPlacement(saved, false));
  EXPECT_EQ(formValueNames(HKEY_CURRENT_USER, "formTest"),
            (std::vector<std::string>{"Height", "Left", "Top", "Width", "WindowState"}));

  RecorderForm loaded("formTest");
  loaded.left = loaded.top = loaded.width = loaded.height = 0;
  EXPECT_TRUE(cfg.LoadFormPlacement(loaded));
  EXPECT_EQ(loaded.left, 10);
  EXPECT_EQ(loaded.height, 200);
  EXPECT_EQ(loaded.log, "LTWHS");

  // Maximised: only the state is written; the normal bounds stay as stored.
  saved.state = kWindowStateMaximized;
  saved.left = 999;
  ASSERT_TRUE(cfg.SaveFormPlacement(saved, false));
  RecorderForm again("formTest");
  EXPECT_TRUE(cfg.LoadFormPlacement(again));
  EXPECT_EQ(again.left, 10);
  EXPECT_EQ(again.state, kWindowStateMaximized);

  RecorderForm fresh("formOnlyState");
  fresh.state = kWindowStateMaximized;
  ASSERT_TRUE(cfg.SaveFormPlacement(fresh, false));
  EXPECT_EQ(formValueNames(HKEY_CURRENT_USER, "formOnlyState"), (std::vector<std::string>{"WindowState"}));
  RecorderForm partial("formOnlyState");
  EXPECT_FALSE(cfg.LoadFormPlacement(partial));  // bounds missing
  EXPECT_EQ(partial.log, "S");

  // A stored minimised state is not applied, yet counts as found.
  saved.state = kWindowStateMinimized;
  ASSERT_TRUE(cfg.SaveFormPlacement(saved, false));
  RecorderForm minimised("formTest");
  minimised.state = kWindowStateNormal;
  EXPECT_TRUE(cfg.LoadFormPlacement(minimised));
  EXPECT_EQ(minimised.state, kWindowStateNormal);
  EXPECT_EQ(minimised.left, 999);
}

TEST_F(Config, AFailedMachineSaveIsRetriedForTheUser) {
  RecorderForm form("formRetry");
  form.failingReads = 1;
  EXPECT_TRUE(cfg.SaveFormPlacement(form, true));
  EXPECT_EQ(formValueNames(HKEY_CURRENT_USER, "formRetry").size(), 5u);

  form.failingReads = 1;  // under the user's root there is no second chance
  EXPECT_FALSE(cfg.SaveFormPlacement(form, false));
}

TEST_F(Config, ReaderOrderAndUserKeys) {
  const std::string path = "\\Software\\Brantwell Limited\\HivescopeTest\\Order";
  WriteRegistryInteger(HKEY_CURRENT_USER, path, "N", Bitness::x32, 1);
  WriteRegistryInteger(HKEY_CURRENT_USER, path + "2", "N", Bitness::x32, 2);
  WriteRegistryInteger(HKEY_LOCAL_MACHINE, path, "N", Bitness::x32, 3);

  std::int32_t n = 0;
  // The first root wins; within a root the later path wins.
  EXPECT_TRUE(MultiReadInteger({HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}, {path, path + "2"}, "N", n));
  EXPECT_EQ(n, 3);
  EXPECT_TRUE(MultiReadInteger({HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}, {path, path + "2"}, "N", n));
  EXPECT_EQ(n, 2);
  EXPECT_TRUE(MultiReadInteger({HKEY_CURRENT_USER}, {path + "2", path}, "N", n));
  EXPECT_EQ(n, 1);

  // Under HKEY_USERS every listed user's key is visited.
  const std::string sid = currentUserSid();
  TMyRegistry users;
  users.SetRootKey(HKEY_USERS);
  ASSERT_TRUE(users.OpenKey("\\" + sid + path, true));
  users.WriteInteger("U", 42);
  users.CloseKey();
  auto saved = UsersSubKeys();
  UsersSubKeys() = {sid};
  n = 0;
  EXPECT_TRUE(MultiReadInteger({HKEY_USERS}, {path}, "U", n));
  EXPECT_EQ(n, 42);
  UsersSubKeys().clear();
  EXPECT_FALSE(MultiReadInteger({HKEY_USERS}, {path}, "U", n));
  UsersSubKeys() = saved;
  users.DeleteKey("\\" + sid + "\\Software\\Brantwell Limited\\HivescopeTest");
}

TEST(MultiConfigReaderBasics, RootsAndIndices) {
  TMultiConfigReader reader;
  EXPECT_EQ(reader.AddRootKey(HKEY_LOCAL_MACHINE), 0);
  EXPECT_EQ(reader.AddRootKey(HKEY_USERS), 1);
  EXPECT_EQ(reader.GetRootKeyCount(), 2);
  EXPECT_EQ(reader.GetRootKey(1), HKEY_USERS);
}
