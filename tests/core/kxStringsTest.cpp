#include "core/kxStrings.h"

#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

using namespace std::string_literals;

TEST(kxStrings, NumbersToDigitTexts) {
  EXPECT_EQ(NibbleToHexChar(0x3A), 'A');
  EXPECT_EQ(ByteToHex(0x0F), "0F");
  EXPECT_EQ(WordToHex(0xBEEF), "BEEF");
  EXPECT_EQ(DWordToHex(0x0000000A), "0000000A");
  EXPECT_EQ(Int64ToHex(-1), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Int64ToHex(0x0123456789ABCDEFll), "0123456789ABCDEF");
  EXPECT_EQ(IntToBin(5), "101");
  EXPECT_EQ(IntToBin(0), "0");
  EXPECT_EQ(IntToBin(0x80000000u), "1" + std::string(31, '0'));
  EXPECT_EQ(Int64ToBin(-1), std::string(63, '1'));
  EXPECT_EQ(Int64ToBin(INT64_MIN), "0");
}

TEST(kxStrings, HexToInt) {
  struct Case {
    const char* text;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"ff", 255},      {"FF", 255},         {"1G", 16},          {"", 0},
      {"100000000", 1},  // the ninth digit from the right weighs 1 again
      {"FFFFFFFF", -1}, {"7fffffff", 0x7FFFFFFF}, {"0", 0}, {"zz", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(HexToInt(c.text), c.expected);
  }
}

TEST(kxStrings, HexToInt64KeepsOnlyTheLastSixteenDigits) {
  EXPECT_EQ(HexToInt64("FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(HexToInt64("100000000"), 0x100000000ll);
  EXPECT_EQ(HexToInt64("1" + std::string(16, '0')), 0);
  EXPECT_EQ(HexToInt64("5" + std::string(15, '0') + "A"), 0xA);  // the 5 is a seventeenth digit
  EXPECT_EQ(HexToInt64("7" + std::string("0123456789ABCDEF")), 0x0123456789ABCDEFll);
}

TEST(kxStrings, HexCharAndPair) {
  EXPECT_EQ(HexCharToNibble('a'), 10);
  EXPECT_EQ(HexCharToNibble('F'), 15);
  EXPECT_EQ(HexCharToNibble('9'), 9);
  EXPECT_EQ(HexCharToNibble('g'), 0);
  EXPECT_EQ(HexPairToByte("7"), 0);
  EXPECT_EQ(HexPairToByte("7f"), 127);
  EXPECT_EQ(HexPairToByte("7f0"), 0);
}

TEST(kxStrings, BinToInt) {
  EXPECT_EQ(BinToInt("1x1"), 5);
  EXPECT_EQ(BinToInt(""), 0);
  EXPECT_EQ(BinToInt(std::string(32, '1')), -1);
  // Weights beyond the width add nothing.
  EXPECT_EQ(BinToInt("1" + std::string(32, '0')), 0);
  EXPECT_EQ(BinToInt64("1" + std::string(40, '0')), 1ll << 40);
  EXPECT_EQ(BinToInt64(std::string(64, '1')), -1);
}

TEST(kxStrings, BytesToHex) {
  EXPECT_EQ(BytesToHex("\x00"s), "00");
  EXPECT_EQ(BytesToHex(""), "");
  EXPECT_EQ(BytesToHex("AB\x00"s), "41 42 ");  // a final zero is hidden, its separator stays
  EXPECT_EQ(BytesToHex("A\x00" "B"s), "41 00 42");
  EXPECT_EQ(BytesToHexSep("\x01\xFF", ", "), "01, FF");
}

TEST(kxStrings, HexToBytes) {
  EXPECT_EQ(HexToBytes("4142", false), "AB");
  EXPECT_EQ(HexToBytes("41 42", true), "AB");
  EXPECT_EQ(HexToBytes("414", false), "A");  // a lone last digit starts no pair
  EXPECT_EQ(HexToBytes("", false), "");
  EXPECT_EQ(HexToBytes("00ff", false), "\x00\xFF"s);
}

TEST(kxStrings, TextTools) {
  std::vector<std::string> list{"keep"};
  SplitString("a,b,", ',', &list);
  EXPECT_EQ(list, (std::vector<std::string>{"keep", "a", "b", ""}));
  list.clear();
  SplitString("", ',', &list);
  EXPECT_EQ(list, (std::vector<std::string>{""}));
  SplitString("a", ',', nullptr);  // no list: nothing happens

  EXPECT_EQ(ShowNulChars("a\0b\0"s), "a<0x00>b<0x00>");
  EXPECT_EQ(DecodeCrLf("one%0D%0Atwo%0D"), "one\r\ntwo%0D");
  EXPECT_EQ(EscapeRegExprChars("a.b(x)"), "a\\.b\\(x\\)");
  EXPECT_EQ(EscapeRegExprChars("c:\\x"), "c:\\\\x");
  EXPECT_EQ(DottedNameToAccountName("john.CORP"), "CORP\\john");
  EXPECT_EQ(DottedNameToAccountName("john.CORP.local"), "CORP.local\\john");
  EXPECT_EQ(DottedNameToAccountName("john"), "john");
}

TEST(kxStrings, LoadUnicodeTextFile) {
  testsupport::TempDir dir;
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return dir / name;
  };
  std::vector<std::string> list{"old"};
  ASSERT_TRUE(LoadUnicodeTextFile(write("crlf.txt", "\xFF\xFE" "a\0\r\0\n\0b\0\r\0\n\0"s), &list));
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b"}));

  // Lone CRs become line breaks; the odd last byte is dropped.
  ASSERT_TRUE(LoadUnicodeTextFile(write("cr.txt", "\xFF\xFE" "x\0\r\0y\0z"s), &list));
  EXPECT_EQ(list, (std::vector<std::string>{"x", "y"}));

  list = {"untouched"};
  EXPECT_FALSE(LoadUnicodeTextFile(dir / "missing.txt", &list));
  EXPECT_EQ(list, (std::vector<std::string>{"untouched"}));
}
