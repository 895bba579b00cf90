#include "editor/CodeHighlighterIni.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace codeedit;

namespace {

struct Token {
  int kind;
  std::u16string text;
  friend bool operator==(const Token&, const Token&) = default;
};

std::string kindName(int kind) {
  static const char* names[] = {"itComment", "itText", "itSection", "itKey",    "itNull",
                                "itNumber",  "itSpace", "itString", "itSymbol", "itOther"};
  return kind >= 0 && kind < 10 ? names[kind] : std::to_string(kind);
}

std::string show(const std::vector<Token>& tokens) {
  std::string out;
  for (const Token& t : tokens) {
    out += kindName(t.kind) + " \"";
    for (char16_t c : t.text)
      out += c < 128 ? static_cast<char>(c) : '?';
    out += "\" ";
  }
  return out;
}

// The tokens of one line up to and with the end-of-line token, after which
// AtLineEnd holds.
std::vector<Token> scan(TCodeIniHighlighter& h, std::u16string_view line) {
  std::vector<Token> tokens;
  h.SetLine(line, 0);
  for (int guard = 0; guard < 1000; ++guard) {
    tokens.push_back({h.CurrentTokenKind(), h.GetTokenText()});
    if (h.AtLineEnd())
      break;
    h.ScanNextToken();
  }
  return tokens;
}

}  // namespace

TEST(CodeHighlighterIniTest, Tokens) {
  const Token null{itNull, u""};
  struct Case {
    std::u16string line;
    std::vector<Token> tokens;
  } cases[] = {
      {u"", {null}},
      {u"REGEDIT4", {{itKey, u"REGEDIT4"}, null}},
      {u"Windows Registry Editor Version 5.00", {{itKey, u"Windows Registry Editor Version 5.00"}, null}},
      {u"[HKEY_CURRENT_USER\\Software\\X]", {{itSection, u"[HKEY_CURRENT_USER\\Software\\X]"}, null}},
      {u"[Section]x", {{itSection, u"[Section]"}, {itText, u"x"}, null}},
      {u"[Sec", {{itSection, u"[Sec"}, null}},
      {u" [Sec]", {{itSpace, u" "}, {itText, u"["}, {itText, u"Sec"}, {itText, u"]"}, null}},
      {u"; a comment = \"x\"", {{itComment, u"; a comment = \"x\""}, null}},
      {u"a ; b", {{itKey, u"a ; b"}, null}},
      {u"Key=value", {{itKey, u"Key"}, {itSymbol, u"="}, {itText, u"value"}, null}},
      {u"k=a;b", {{itKey, u"k"}, {itSymbol, u"="}, {itText, u"a"}, {itText, u";"}, {itText, u"b"}, null}},
      {u"\"Test\"=-", {{itString, u"\"Test\""}, {itSymbol, u"="}, {itText, u"-"}, null}},
      {u"\"V\"=dword:0000000a",
       {{itString, u"\"V\""}, {itSymbol, u"="}, {itText, u"dword"}, {itText, u":0000000a"}, null}},
      {u"@=\"x\"", {{itKey, u"@"}, {itSymbol, u"="}, {itString, u"\"x\""}, null}},
      {u"\"B\"=hex:01,ff",
       {{itString, u"\"B\""}, {itSymbol, u"="}, {itText, u"hex"}, {itText, u":01"}, {itText, u",ff"},
        null}},
      {u"Number=123456", {{itKey, u"Number"}, {itSymbol, u"="}, {itNumber, u"123456"}, null}},
      {u"n=12e5", {{itKey, u"n"}, {itSymbol, u"="}, {itNumber, u"12e5"}, null}},
      {u"n=1.2.3", {{itKey, u"n"}, {itSymbol, u"="}, {itNumber, u"1.2.3"}, null}},
      {u"n=123abc", {{itKey, u"n"}, {itSymbol, u"="}, {itText, u"123abc"}, null}},
      {u"n=-5", {{itKey, u"n"}, {itSymbol, u"="}, {itText, u"-5"}, null}},
      {u"1=2", {{itKey, u"1"}, {itSymbol, u"="}, {itNumber, u"2"}, null}},
      {u"s=\"a b\" x", {{itKey, u"s"}, {itSymbol, u"="}, {itString, u"\"a b\""}, {itSpace, u" "}, {itText, u"x"},
                        null}},
      {u"s=\"open", {{itKey, u"s"}, {itSymbol, u"="}, {itString, u"\"open"}, null}},
      {u"s=''", {{itKey, u"s"}, {itSymbol, u"="}, {itString, u"''"}, null}},
      // A tripled quote skips two quotes; the string closes at the next one.
      {u"s='''a' b", {{itKey, u"s"}, {itSymbol, u"="}, {itString, u"'''a'"}, {itSpace, u" "}, {itText, u"b"}, null}},
      {u"k=\t \tv", {{itKey, u"k"}, {itSymbol, u"="}, {itSpace, u"\t \t"}, {itText, u"v"}, null}},
      {u"k=\u00e9t\u00e9", {{itKey, u"k"}, {itSymbol, u"="}, {itText, u"\u00e9t"}, {itText, u"\u00e9"}, null}},
      // A NUL inside the line is a blank; the line still ends at its end.
      {std::u16string(u"k=a\0b", 5), {{itKey, u"k"}, {itSymbol, u"="}, {itText, u"a"}, {itSpace, std::u16string(1, u'\0')},
                                       {itText, u"b"}, null}},
      {std::u16string(u"\0[x", 3), {{itSpace, std::u16string(1, u'\0')}, {itText, u"["}, {itText, u"x"}, null}},
  };
  TCodeIniHighlighter h;
  for (const Case& c : cases) {
    const std::vector<Token> got = scan(h, c.line);
    EXPECT_EQ(show(got), show(c.tokens)) << "line " << show({{itText, c.line}});
  }
}

TEST(CodeHighlighterIniTest, AttributesOfTokensAndPositions) {
  TCodeIniHighlighter h;
  h.SetLine(u"Key=Value", 3);
  EXPECT_EQ(h.CurrentTokenAttribute(), h.KeyAttri());
  EXPECT_EQ(h.GetTokenPos(), 0);
  h.ScanNextToken();
  EXPECT_EQ(h.CurrentTokenAttribute(), h.SymbolAttri());
  EXPECT_EQ(h.GetTokenPos(), 3);
  h.ScanNextToken();
  EXPECT_EQ(h.CurrentTokenAttribute(), h.TextAttri());
  EXPECT_EQ(h.GetTokenText(), u"Value");  // the case of the line, not of the scan
  h.ScanNextToken();
  EXPECT_EQ(h.CurrentTokenKind(), itNull);
  EXPECT_EQ(h.CurrentTokenAttribute(), nullptr);
  EXPECT_TRUE(h.AtLineEnd());

  EXPECT_EQ(h.DefaultAttribute(CODE_ATTR_COMMENT), h.CommentAttri());
  EXPECT_EQ(h.DefaultAttribute(CODE_ATTR_WHITESPACE), h.SpaceAttri());
  EXPECT_EQ(h.DefaultAttribute(CODE_ATTR_IDENTIFIER), nullptr);
  EXPECT_EQ(h.DefaultAttribute(99), nullptr);
}

TEST(CodeHighlighterIniTest, ColumnPositionsSkipGlyphFillers) {
  // A wide character takes two cells: its filler comes before it in the
  // column line.
  TCodeIniHighlighter h;
  h.SetLineWithColumns(u"\u4e00=v", u"\ue000\u4e00=v", 0);
  EXPECT_EQ(h.GetColumnTokenPos(), 0);
  EXPECT_EQ(h.GetColumnToken(), u"\ue000\u4e00");
  h.ScanNextToken();
  EXPECT_EQ(h.GetTokenPos(), 1);
  EXPECT_EQ(h.GetColumnTokenPos(), 2);
  EXPECT_EQ(h.GetColumnToken(), u"=");
  h.ScanNextToken();
  EXPECT_EQ(h.GetColumnTokenPos(), 3);
  EXPECT_EQ(h.GetColumnToken(), u"v");
  // Without a column line the column position is the token's.
  h.SetLine(u"\u4e00=v", 0);
  h.ScanNextToken();
  EXPECT_EQ(h.GetColumnTokenPos(), 1);
  EXPECT_EQ(h.GetColumnToken(), u"=");
}

TEST(CodeHighlighterIniTest, LanguageAndDefaults) {
  TCodeIniHighlighter h;
  EXPECT_EQ(h.LanguageName(), "INI");
  EXPECT_EQ(h.FriendlyLanguageName(), u"INI");
  EXPECT_EQ(h.GetDefaultFilter(), "INI Files (*.ini)|*.ini");
  EXPECT_FALSE(h.DefaultFilterIsStored());
  h.SetDefaultFilter("All (*.*)|*.*");
  EXPECT_TRUE(h.DefaultFilterIsStored());
  EXPECT_EQ(h.SampleText(),
            u"; Syntax highlighting\r\n[Section]\r\nKey=value\r\nString=\"Arial\"\r\nNumber=123456");

  EXPECT_EQ(h.CommentAttri()->Foreground(), 0x008000u);
  EXPECT_EQ(h.CommentAttri()->Style(), fsItalic);
  EXPECT_EQ(h.SectionAttri()->Style(), fsBold);
  for (int i = 0; i < h.AttributeCount(); ++i) {
    const TCodeHighlighterAttributes* a = h.AttributeByIndex(i);
    SCOPED_TRACE(a->StorageName());
    EXPECT_EQ(a->Background(), clNone);
    // The constructor's values are the defaults: nothing is stored.
    EXPECT_FALSE(a->ForegroundIsStored() || a->BackgroundIsStored() || a->StyleIsStored());
  }

  const auto& classes = TCodeCustomHighlighter::HighlighterClasses();
  EXPECT_EQ(std::count(classes.begin(), classes.end(), &TCodeIniHighlighter::staticMetaObject), 1);

  QObject owner;
  auto* owned = new TCodeIniHighlighter(&owner);
  owned->setObjectName("CodeIniHighlighter1");
  EXPECT_EQ(owner.findChild<TCodeCustomHighlighter*>("CodeIniHighlighter1"), owned);
}

TEST(CodeHighlighterIniTest, TokensCoverEveryLineExactlyOnce) {
  // Lines built from the characters the rules look at: whatever the mix, the
  // tokens follow one another without gap or overlap, give back the line,
  // and the scan ends with the end-of-line token.
  const std::u16string alphabet = u"[];=\"'09.eE aZ-\t\r\n\u00e9\u4e00";
  TCodeIniHighlighter h;
  std::uint32_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::u16string line;
    seed = seed * 1103515245u + 12345u;
    const int length = static_cast<int>(seed >> 16) % 12;
    for (int i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      line += alphabet[(seed >> 16) % alphabet.size()];
    }
    std::u16string joined;
    int tokens = 0;
    h.SetLine(line, round);
    while (!h.AtLineEnd()) {
      ASSERT_LE(++tokens, length + 1) << "no progress";
      ASSERT_EQ(h.GetTokenPos(), static_cast<int>(joined.size()));
      joined += h.GetTokenText();
      h.ScanNextToken();
    }
    EXPECT_EQ(h.CurrentTokenKind(), itNull);
    EXPECT_EQ(joined, line) << "round " << round;
  }
}
