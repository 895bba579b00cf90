#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/CommaText.h"
#include "platform/Text.h"

namespace {

using Fields = std::vector<std::u16string>;

std::string shown(const Fields& fields) {
  std::string out;
  for (const auto& f : fields) out += "[" + platform::wideToAnsi(f) + "]";
  return out;
}

TEST(CommaText, SplitsAtCommasAndBlanksOutsideQuotes) {
  const struct {
    std::u16string text;
    Fields fields;
  } cases[] = {
      {u"", {}},
      {u"   ", {}},
      {u"a,b,c", {u"a", u"b", u"c"}},
      {u"ITEM,My key,path", {u"ITEM", u"My", u"key", u"path"}},
      {u"  a , b\t,c  ", {u"a", u"b", u"c"}},
      {u"a,,b", {u"a", u"", u"b"}},
      {u",a", {u"", u"a"}},
      {u"a,", {u"a", u""}},
      {u"\"\"", {u""}},
      {u"\"b c\",\"d\"\"e\"", {u"b c", u"d\"e"}},
      {u"\"a,b\"x,y", {u"a,b", u"x", u"y"}},
      {u"\"open to the end", {u"open to the end"}},
      {u"a\"b", {u"a\"b"}},
      {std::u16string(u"a\0b", 3), {u"a", u"b"}},
      {u"\u00e9t\u00e9,\u4e2d", {u"\u00e9t\u00e9", u"\u4e2d"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::wideToAnsi(c.text));
    EXPECT_EQ(shown(SplitCommaText(c.text)), shown(c.fields));
  }
}

TEST(CommaText, QuotesWhatWouldSplitAndReadsBackEveryList) {
  const struct {
    Fields fields;
    std::u16string text;
  } cases[] = {
      {{}, u""},
      {{u""}, u"\"\""},
      {{u"", u""}, u","},
      {{u"ITEM", u"My key", u"HKEY_LOCAL_MACHINE\\SOFTWARE"}, u"ITEM,\"My key\",HKEY_LOCAL_MACHINE\\SOFTWARE"},
      {{u"a", u"b,c", u"d\"e", u"tab\there"}, u"a,\"b,c\",\"d\"\"e\",\"tab\there\""},
      {{u"", u"", u"x", u""}, u",,x,"},
      {{u"@", u"REG_MULTI_SZ", u"a\r\nb\r\n\r\n", u"8"}, u"@,REG_MULTI_SZ,\"a\r\nb\r\n\r\n\",8"},
      {{std::u16string(u"nul\0in", 6), u" lead", u"trail "}, u"\"" + std::u16string(u"nul\0in", 6) + u"\",\" lead\",\"trail \""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(shown(c.fields));
    const std::u16string text = JoinCommaText(c.fields);
    EXPECT_EQ(platform::wideToAnsi(text), platform::wideToAnsi(c.text));
    EXPECT_EQ(shown(SplitCommaText(text)), shown(c.fields));
  }
}

}  // namespace
