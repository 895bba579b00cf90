#include "core/bwlTweaks.h"

#include <gtest/gtest.h>

#include "core/bwlRegistry.h"
#include "tests/support/TempDir.h"

TEST(Tweaks, ProgramKeyThenGeneralKeyDwordsOnly) {
  testsupport::TempRegistry tempRegistry;
  const std::string general = kTweaksKey;
  const std::string program = general + "hivescope";
  const auto write = [](const std::string& key, const std::string& name, auto value) {
    TMyRegistry registry;
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(key, true));
    if constexpr (std::is_same_v<decltype(value), const char*>)
      registry.WriteString(name, value);
    else
      registry.WriteCardinal(name, value);
  };
  write(program, "Zero", 0u);
  write(program, "Big", 256u);
  write(program, "Text", "1");
  write(general, "Text", 1u);
  write(general, "OnlyGeneral", 0u);
  write(general, "Zero", 1u);  // the program's key holds it: this is not read
  write(general, "Strings", "1");

  struct Case {
    const char* name;
    bool found, value;
  } const cases[] = {
      {"Zero", true, false},       {"Big", true, true},     {"Text", true, true},
      {"OnlyGeneral", true, false}, {"Strings", false, false}, {"Missing", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool value = false;
    EXPECT_EQ(ReadTweakValue("hivescope", c.name, value), c.found);
    if (c.found) EXPECT_EQ(value, c.value);
  }
  bool value = true;
  EXPECT_FALSE(ReadTweakValue("other", "Big", value));
  EXPECT_TRUE(value);
  // This program's own name: only the general key holds anything for it.
  EXPECT_TRUE(ReadTweakValueDef("Missing", true));
  EXPECT_FALSE(ReadTweakValueDef("OnlyGeneral", true));
}
