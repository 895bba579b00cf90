// The engine against PCRE on the subset the two dialects share. The
// expectations were produced once by pcre2test through RegExpPcreCases.py and
// are committed, so the test needs no PCRE at run time; rows marked "dialect"
// carry the engine's own result where its rules differ.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/RegExpEngine.h"

namespace {

struct PcreCase {
  const char* pattern;
  const char* subject;
  int compileError;
  bool matched;
  std::vector<const char*> groups;  // nullptr: the group is unset
  const char* source;
};

const PcreCase kCases[] = {
#include "RegExpPcreCases.inc"
};

TEST(RegExpPcreTable, AgreesWithPcre2) {
  EXPECT_GE(std::size(kCases), 150u);
  for (const PcreCase& c : kCases) {
    SCOPED_TRACE(std::string("/") + c.pattern + "/ on \"" + c.subject + "\" (" + c.source + ")");
    TRegExpEngine re;
    re.SetExpression(c.pattern);
    bool matched = false;
    try {
      matched = re.Exec(c.subject);
    } catch (const ERegExpEngine& e) {
      EXPECT_EQ(e.Code, c.compileError) << e.what();
      continue;
    }
    EXPECT_EQ(c.compileError, 0) << "compiled, expected error " << c.compileError;
    EXPECT_EQ(matched, c.matched);
    if (!matched || !c.matched) continue;
    const int count = std::max<int>(re.MatchedGroupCount() + 1, static_cast<int>(c.groups.size()));
    for (int g = 0; g < count; ++g) {
      SCOPED_TRACE("group " + std::to_string(g));
      const char* want = g < static_cast<int>(c.groups.size()) ? c.groups[g] : nullptr;
      if (!want) {
        EXPECT_EQ(re.MatchPos(g), -1) << "set to \"" << re.GroupText(g) << "\"";
      } else {
        EXPECT_NE(re.MatchPos(g), -1);
        EXPECT_EQ(re.GroupText(g), want);
      }
    }
  }
}

}  // namespace
