#include "unicode/UniRegistry.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

using namespace uni;
using namespace platform;

namespace {

class UniRegistryTest : public ::testing::Test {
protected:
  void SetUp() override {
    HKEY key{};
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\UniTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    set(key, u"Text", REG_SZ, u8bytes(u"caf\u00E9", true));
    set(key, u"Expand", REG_EXPAND_SZ, u8bytes(u"%TEMP%\\x", true));
    set(key, u"Empty0", REG_SZ, {});
    set(key, u"Empty2", REG_SZ, {0, 0});
    set(key, u"OneByte", REG_SZ, {'A'});
    set(key, u"Odd", REG_SZ, {'A', 0, 'B'});
    set(key, u"Embedded", REG_SZ, u8bytes(std::u16string(u"ab\0cd", 5), true));
    set(key, u"Number", REG_DWORD, {1, 0, 0, 0});
    RegCloseKey(key);
  }

  static std::vector<BYTE> u8bytes(std::u16string_view text, bool terminate) {
    std::vector<BYTE> bytes;
    for (const char16_t c : text) {
      bytes.push_back(static_cast<BYTE>(c & 0xFF));
      bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    if (terminate) bytes.insert(bytes.end(), {0, 0});
    return bytes;
  }

  static void set(HKEY key, const char16_t* name, DWORD type, const std::vector<BYTE>& data) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
  }

  testsupport::TempRegistry registry_;
};

}  // namespace

TEST_F(UniRegistryTest, ReadsStringValuesUpToTheirFirstNul) {
  TUniRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly(u"\\Software\\UniTest"));
  struct Case {
    std::u16string name;
    std::u16string text;
  };
  const Case cases[] = {
      {u"Text", u"caf\u00E9"}, {u"Expand", u"%TEMP%\\x"}, {u"Empty0", u""}, {u"Empty2", u""},
      {u"OneByte", u"A"},     {u"Odd", u"AB"},            {u"Embedded", u"ab"}, {u"Missing", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    EXPECT_EQ(reg.ReadString(c.name), c.text);
  }
  try {
    reg.ReadString(u"Number");
    ADD_FAILURE() << "nothing thrown";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Number'");
  }
}

TEST_F(UniRegistryTest, OpensRelativeToTheOpenKeyAndKeepsItOnFailure) {
  TUniRegistry reg(HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey(u"Software", false));
  ASSERT_TRUE(reg.OpenKey(u"UniTest", false));
  EXPECT_EQ(reg.ReadString(u"Text"), u"caf\u00E9");
  EXPECT_FALSE(reg.OpenKeyReadOnly(u"Nowhere"));
  EXPECT_EQ(reg.ReadString(u"Text"), u"caf\u00E9");
  ASSERT_TRUE(reg.OpenKey(u"\\Software\\UniTest\\New", true));
  EXPECT_EQ(reg.ReadString(u"Text"), u"");
  reg.CloseKey();
  EXPECT_FALSE(reg.CurrentKey());
}
