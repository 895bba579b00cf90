// The security tree of a key, filled into a recording tree.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/kxSecurityGUI.h"
#include "tests/core/SecurityFixture.h"

using namespace platform;

namespace {

// Keeps the nodes as an outline: one line per node, two blanks per level,
// the image in brackets.
class RecordingTree final : public SecurityTree {
public:
  struct Item {
    std::string text;
    int image;
    std::vector<std::unique_ptr<Item>> children;
  };
  std::vector<std::unique_ptr<Item>> top;
  std::string hint = "(no hint)";
  int updates = 0;

  void BeginUpdate() override { ++updates; }
  void EndUpdate() override { --updates; }
  void Clear() override { top.clear(); }
  Node AddChild(Node parent, const std::string& text, int image) override {
    auto& list = parent ? static_cast<Item*>(parent)->children : top;
    list.push_back(std::make_unique<Item>(Item{text, image, {}}));
    return list.back().get();
  }
  void SetHint(const std::string& text) override { hint = text; }

  std::vector<std::string> outline() const {
    std::vector<std::string> out;
    for (const auto& item : top) walk(*item, 0, out);
    return out;
  }

private:
  static void walk(const Item& item, int level, std::vector<std::string>& out) {
    out.push_back(std::string(level * 2, ' ') + item.text + " [" + std::to_string(item.image) + "]");
    for (const auto& child : item.children) walk(*child, level + 1, out);
  }
};

using Outline = std::vector<std::string>;

TEST(kxSecurityGUI, FillAceTreeOutlines) {
  struct Case {
    const char* sddl;
    Outline outline;
  };
  const Case cases[] = {
      {"D:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)",
       {"Administrators (BUILTIN) [5]", "  ACE Type [1]", "    ACCESS_ALLOWED_ACE_TYPE [6]", "  ACE Flags [1]",
        "    CONTAINER_INHERIT_ACE [6]", "  Rights [1]", "    KEY_ALL_ACCESS [6]", "CREATOR OWNER [5]", "  ACE Type [1]",
        "    ACCESS_ALLOWED_ACE_TYPE [6]", "  ACE Flags [1]", "    CONTAINER_INHERIT_ACE [6]",
        "    INHERIT_ONLY_ACE [6]", "  Rights [1]", "    GENERIC_ALL [6]"}},
      {"D:NO_ACCESS_CONTROL", {}},
      {"D:(OD;;0x10000000;guid-1;guid-2;XY)",
       {"Unknown(?): XY [5]", "  ACE Type [1]", "    ACCESS_DENIED_OBJECT_ACE_TYPE  [6]", "  Rights [1]",
        "    GENERIC_ALL [6]", "     [6]", "  Object GUID [1]", "    guid-1 [6]", "  Inherit GUID [1]",
        "    guid-2 [6]"}},
      // An entry cut short has no fields: an empty account with its rights.
      {"D:(A;;KA", {" [5]", "  Rights [1]", "     [6]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sddl);
    RecordingTree tree;
    FillAceTree(c.sddl, tree, 5, 1, 6, "");
    EXPECT_EQ(tree.outline(), c.outline);
  }
}

using kxSecurityGUIKeys = SecurityFixture;

TEST_F(kxSecurityGUIKeys, ShowKeySecurityFillsTreeAndHint) {
  const std::string path = userKey("Golden", "O:BAG:SYD:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)");
  RecordingTree tree;
  tree.AddChild(nullptr, "stale", 0);
  ShowKeySecurity(HKEY_CURRENT_USER, path, tree, 5, 1, 6, rvDefault);
  EXPECT_EQ(tree.updates, 0);
  const Outline outline = tree.outline();
  ASSERT_EQ(outline.size(), 15u);
  EXPECT_EQ(outline[0], "Administrators (BUILTIN) [5]");
  EXPECT_EQ(outline[7], "CREATOR OWNER [5]");
  EXPECT_TRUE(tree.hint.starts_with("  NumSubKeys: 0\r\n  MaxSubKeyLen: 0\r\n  NumValues: 0\r\n  MaxValueLen: 0\r\n"
                                    "  MaxDataLen: 0\r\n  FileTime: "))
      << tree.hint;
  EXPECT_TRUE(tree.hint.ends_with("\r\n"));
}

TEST_F(kxSecurityGUIKeys, UnreadableKeysLeaveAnEmptyTree) {
  struct Case {
    std::string path;
    bool hint;  // the sizes can still be read
  };
  const Case cases[] = {
      {userKey("Open", "O:BAG:SYD:NO_ACCESS_CONTROL"), true},
      // Opens for querying values only, so its descriptor is out of reach.
      {userKey("QueryOnly", "O:SYG:SYD:(A;;0x1;;;WD)"), true},
      {userKey("Closed", "O:SYG:SYD:"), false},
      {"\\Software\\Sec\\Missing", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RecordingTree tree;
    tree.AddChild(nullptr, "stale", 0);
    ShowKeySecurity(HKEY_CURRENT_USER, c.path, tree, 5, 1, 6, rvDefault);
    EXPECT_TRUE(tree.outline().empty());
    EXPECT_EQ(tree.hint.starts_with("  NumSubKeys: "), c.hint) << tree.hint;
    EXPECT_EQ(tree.updates, 0);
  }
}

}  // namespace
