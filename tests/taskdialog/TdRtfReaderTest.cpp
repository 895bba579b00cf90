#include "taskdialog/TdRtfReader.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

std::span<const std::uint8_t> bytesOf(std::string_view Text) {
  return {reinterpret_cast<const std::uint8_t*>(Text.data()), Text.size()};
}

std::u16string plain(const std::vector<TdRtfRun>& Runs) {
  std::u16string text;
  for (const TdRtfRun& run : Runs)
    text += run.Text;
  return text;
}

// A run as "[biu]text" with the letters of its format, so one string shows
// where the formats change.
std::u16string marked(const std::vector<TdRtfRun>& Runs) {
  std::u16string text;
  for (const TdRtfRun& run : Runs) {
    text += u'[';
    if (run.Bold)
      text += u'b';
    if (run.Italic)
      text += u'i';
    if (run.Underline)
      text += u'u';
    text += u']';
    text += run.Text;
  }
  return text;
}

TEST(TdRtfReader, TextAndFormats) {
  struct Case {
    const char* rtf;
    std::u16string expected;
  };
  const Case cases[] = {
      {R"({\rtf1\ansi plain {\b bold} again})", u"[]plain [b]bold[] again"},
      {R"({\rtf1 \b on\b0 off\i it\i0\ul under\ulnone  x})", u"[b]on[]off[i]it[u]under[] x"},
      {R"({\rtf1 {\b\i both\plain none}})", u"[bi]both[]none"},
      {R"({\rtf1 one\par two\line three\tab four})", u"[]one\ntwo\u2028three\tfour"},
      {"{\\rtf1 a\\\r\nb}", u"[]a\nb"},
      {R"({\rtf1 \{braces\} and \\ slash\~nb})", u"[]{braces} and \\ slash\u00A0nb"},
      {"{\\rtf1 line\r\nbreaks\r\nvanish}", u"[]linebreaksvanish"},
      {R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote})",
       u"[]\u2014\u2013\u2022\u2018\u2019\u201C\u201D"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rtf);
    EXPECT_EQ(marked(TdReadRtf(bytesOf(c.rtf))), c.expected);
  }
}

TEST(TdRtfReader, DestinationsWithoutTextAreSkipped) {
  const std::string_view rtf =
      R"({\rtf1\ansi\deff0{\fonttbl{\f0\fswiss Arial;}{\f1 Courier;}})"
      R"({\colortbl;\red255\green0\blue0;}{\*\generator Writer 1.0;})"
      R"({\info{\title The title}{\author Someone}})"
      R"({\*\unknowndestination hidden {\b deeper}})"
      R"({\pict\pngblip 89504e47}{\field{\*\fldinst HYPERLINK "x"}{\fldrslt shown}})"
      R"(\pard\f0\fs20 Body{\*\ignored x} end})";
  EXPECT_EQ(plain(TdReadRtf(bytesOf(rtf))), u"shownBody end");
}

TEST(TdRtfReader, CharactersFromCodePagesAndUnicode) {
  struct Case {
    const char* name;
    const char* rtf;
    std::u16string expected;
  };
  const Case cases[] = {
      {"\\u with its fallback skipped", R"({\rtf1 \u1050?\u1083?\u1102?\u1095? ok})", u"Ключ ok"},
      {"\\uc2 skips two fallbacks, hex ones too",
       R"({\rtf1\uc2 \u1050\'3f\'3f\u1083?? ab})", u"Кл ab"},
      {"\\uc0 skips none", R"({\rtf1\uc0 \u1050 x})", u"Кx"},
      {"negative numbers wrap", R"({\rtf1 \u-3913?})", u"\uF0B7"},
      {"the fallback ends with its group", R"({\rtf1 {\uc3\u1050 a}b})", u"Кb"},
      {"\\'hh in the default code page", R"({\rtf1\ansi caf\'e9})", u"café"},
      {"\\'hh in the document's code page", R"({\rtf1\ansi\ansicpg1251 \'ca\'eb\'fe\'f7})", u"Ключ"},
      {"a bad hex escape is dropped", R"({\rtf1 a\'zzb\'4})", u"azzb4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plain(TdReadRtf(bytesOf(c.rtf))), c.expected);
  }
}

TEST(TdRtfReader, HostileInputEndsCleanly) {
  struct Case {
    const char* name;
    std::string rtf;
    std::u16string expected;
  };
  std::string deep = "{\\rtf1 top";
  deep += std::string(100000, '{') + "\\b inner" + std::string(100000, '}') + " after}";
  std::string longWord = "{\\rtf1 \\" + std::string(10000, 'x') + "123456789012345678901234 t}";
  const Case cases[] = {
      {"unclosed groups", "{\\rtf1 {\\b open {\\i deeper", u"open deeper"},
      {"stray closing braces", "{\\rtf1 a}}} b}", u"a b"},
      {"a trailing backslash", "{\\rtf1 a\\", u"a"},
      {"a trailing \\u", "{\\rtf1 a\\u", u"a"},
      {"a huge \\u number", "{\\rtf1 \\u99999999999999999999 ?a}", u"a"},
      {"a long control word", longWord, u"t"},
      // Deeper than the reader keeps, the groups still balance: the text
      // after them is read at the outer level again.
      {"100,000 nested groups", deep, u"topinner after"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plain(TdReadRtf(bytesOf(c.rtf))), c.expected);
  }
  const std::vector<TdRtfRun> runs = TdReadRtf(bytesOf(deep));
  ASSERT_FALSE(runs.empty());
  EXPECT_FALSE(runs.back().Bold) << "the bold of the deep groups leaked out of them";
}

TEST(TdRtfReader, RecognisesRichText) {
  EXPECT_TRUE(TdIsRtf(bytesOf("{\\rtf1 x}")));
  EXPECT_TRUE(TdIsRtf(bytesOf(" \r\n{\\rtf")));
  EXPECT_FALSE(TdIsRtf(bytesOf("plain {\\rtf1")));
  EXPECT_FALSE(TdIsRtf(bytesOf("{\\rt")));
  EXPECT_FALSE(TdIsRtf(bytesOf("")));
}

}  // namespace
