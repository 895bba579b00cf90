// The cipher against published Blowfish vectors and against openssl, its
// three block modes against each other, and base64 against RFC 4648.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "crashreport/zebCrypt.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using namespace zeb;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes fromHex(std::string_view hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(std::uint8_t(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

std::string toHex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string keyText(const Bytes& key) { return std::string(key.begin(), key.end()); }

Bytes randomBytes(std::mt19937& rng, std::size_t n) {
  Bytes out(n);
  for (auto& b : out) b = std::uint8_t(rng());
  return out;
}

// Eric Young's published ECB vectors: key, plain text, cipher text.
struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};
constexpr Vector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

}  // namespace

TEST(zebCrypt, BlowfishPublishedVectorsInStandardMode) {
  ASSERT_EQ(std::size(kVectors), 34u);
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(std::string(v.key) + " " + v.plain);
    const std::string key = keyText(fromHex(v.key));
    Bytes block = fromHex(v.plain);
    ASSERT_TRUE(CryptBlocks(block, true, false, 0, 0, key));
    EXPECT_EQ(toHex(block), v.cipher);
    ASSERT_TRUE(CryptBlocks(block, false, false, 0, 0, key));
    EXPECT_EQ(toHex(block), v.plain);
  }
}

TEST(zebCrypt, SixteenByteKeysAgreeWithOpenssl) {
  if (!testsupport::haveTool("openssl")) GTEST_SKIP() << "openssl is not installed";
  testsupport::TempDir dir;
  std::mt19937 rng(48);
  for (int round = 0; round < 4; ++round) {
    const Bytes key = randomBytes(rng, 16);
    const Bytes plain = randomBytes(rng, 8 * std::size_t(1 + round * 3));
    const auto input = dir / ("plain" + std::to_string(round));
    std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(plain.data()), std::streamsize(plain.size()));
    int status = 0;
    const std::string expected = testsupport::commandOutput(
        "openssl enc -bf-ecb -provider legacy -provider default -nopad -K " + toHex(key) + " -in " +
            testsupport::shellQuote(input.string()) + " | od -An -v -tx1 | tr -d ' \\n' | tr a-f A-F",
        &status);
    ASSERT_EQ(status, 0);
    if (expected.empty()) GTEST_SKIP() << "this openssl has no Blowfish";
    Bytes data = plain;
    ASSERT_TRUE(CryptBlocks(data, true, false, 0, 0, keyText(key)));
    EXPECT_EQ(toHex(data), expected) << "round " << round;
  }
}

TEST(zebCrypt, RawWordModeIsStandardModeOnWordSwappedBlocks) {
  std::mt19937 rng(7);
  const std::string key = "raw words";
  const Bytes plain = randomBytes(rng, 24);
  // Raw-word mode reads a block as one little-endian 64-bit number, high word
  // left: reversing each block's eight bytes gives the standard layout.
  auto reversedBlocks = [](Bytes b) {
    for (std::size_t i = 0; i + 8 <= b.size(); i += 8) std::reverse(b.begin() + long(i), b.begin() + long(i) + 8);
    return b;
  };
  Bytes raw = plain;
  ASSERT_TRUE(EncryptBlocksRaw(raw, key));
  Bytes standard = reversedBlocks(plain);
  ASSERT_TRUE(CryptBlocks(standard, true, false, 0, 0, key));
  EXPECT_EQ(raw, reversedBlocks(standard));
  ASSERT_TRUE(DecryptBlocksRaw(raw, key));
  EXPECT_EQ(raw, plain);
}

TEST(zebCrypt, CounterModeIsItsOwnInverseAndLeavesShortTailsAlone) {
  std::mt19937 rng(3);
  const Bytes plain = randomBytes(rng, 21);  // two blocks and a 5-byte tail
  Bytes data = plain;
  ASSERT_TRUE(CryptBlocks(data, true, false, 0x6D2E91B4, 0, "server"));
  EXPECT_NE(Bytes(data.begin(), data.begin() + 16), Bytes(plain.begin(), plain.begin() + 16));
  EXPECT_EQ(Bytes(data.begin() + 16, data.end()), Bytes(plain.begin() + 16, plain.end()));
  ASSERT_TRUE(CryptBlocks(data, true, false, 0x6D2E91B4, 0, "server"));
  EXPECT_EQ(data, plain);

  for (bool raw : {false, true}) {
    Bytes five = {1, 2, 3, 4, 5};
    ASSERT_TRUE(CryptBlocks(five, true, raw, 0, 0, "key"));
    EXPECT_EQ(five, (Bytes{1, 2, 3, 4, 5}));
  }
}

TEST(zebCrypt, CounterCarriesAcrossBytesAsABigEndianNumber) {
  // Counter low 0xFF000000 starts as the bytes 00 00 00 FF 00 00 00 00; the
  // first increment makes 00 00 00 FF 00 00 00 01. Counter mode's key stream
  // for one block is that block enciphered in standard mode.
  Bytes zero(8, 0);
  ASSERT_TRUE(CryptBlocks(zero, true, false, 0xFF000000, 0, "k"));
  Bytes counter = {0, 0, 0, 0xFF, 0, 0, 0, 1};
  ASSERT_TRUE(CryptBlocks(counter, true, false, 0, 0, "k"));
  EXPECT_EQ(zero, counter);

  // All ones in the low bytes carries into byte 3 and beyond.
  Bytes carried(16, 0);
  ASSERT_TRUE(CryptBlocks(carried, true, false, 0, 0xFFFFFFFF, "k"));  // bytes 00 00 00 00 FF FF FF FF
  Bytes second = {0, 0, 0, 1, 0, 0, 0, 1};  // after two increments with the carry
  ASSERT_TRUE(CryptBlocks(second, true, false, 0, 0, "k"));
  EXPECT_EQ(Bytes(carried.begin() + 8, carried.end()), second);
}

TEST(zebCrypt, DecryptTextRemovesWholePaddingOnly) {
  struct Case {
    const char* what;
    std::string plain;
    std::string expected;
  };
  const Case cases[] = {
      {"three bytes of 3", std::string("secret\x01\x02\x03\x03\x03", 11) + std::string(5, '\x05'), "secret\x01\x02\x03\x03\x03"},
      {"ends in three 3s", std::string("abcde\x03\x03\x03", 8), "abcde"},
      {"a single 3 after other bytes", std::string("abcdefg\x03", 8), std::string("abcdefg\x03", 8)},
      {"a whole block of 8", "12345678" + std::string(8, '\x08'), "12345678"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (std::uint32_t counter : {0u, 0x3A5C7E09u}) {
      std::string text = c.plain;
      std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
      ASSERT_TRUE(CryptBlocks(bytes, true, false, counter, 0, "account"));
      DecryptText(text, "account", counter, 0);
      EXPECT_EQ(text, c.expected) << "counter " << counter;
    }
  }
}

TEST(zebCrypt, StoredPasswordsAndEmptyKeys) {
  // Made as the settings writer makes them: padded, enciphered with the
  // account name, then with the server name.
  std::string cipher = std::string("hunter2") + '\x01';
  std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(cipher.data()), cipher.size());
  ASSERT_TRUE(CryptBlocks(bytes, true, false, 0x3A5C7E09, 0, "alice"));
  ASSERT_TRUE(CryptBlocks(bytes, true, false, 0x6D2E91B4, 0, "mail.example.org"));
  const Bytes stored = Base64Decode(Base64Encode(Bytes(cipher.begin(), cipher.end())));
  EXPECT_EQ(DecryptStoredPassword(stored, "alice", "mail.example.org"), "hunter2");

  // An empty server or account name means no password.
  EXPECT_EQ(DecryptStoredPassword(stored, "", "mail.example.org"), "");
  EXPECT_EQ(DecryptStoredPassword(stored, "alice", ""), "");
  Bytes block(8, 0x41);
  EXPECT_FALSE(CryptBlocks(block, true, false, 0, 0, ""));
  EXPECT_EQ(block, Bytes(8, 0x41));
  std::string text = "12345678";
  DecryptText(text, "", 1, 0);
  EXPECT_EQ(text, "");
  BlowfishTables tables{};
  EXPECT_FALSE(BlowfishKey("", tables));
}

TEST(zebCrypt, Base64Rfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},          {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    SCOPED_TRACE(plain);
    EXPECT_EQ(Base64EncodeText(plain), encoded);
    EXPECT_EQ(Base64DecodeText(encoded), plain);
  }
  const Bytes all = [] {
    Bytes b;
    for (int i = 0; i < 256; ++i) b.push_back(std::uint8_t(i));
    return b;
  }();
  EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}

TEST(zebCrypt, Base64DecodeStopsAtForeignBytes) {
  const std::pair<const char*, std::string> cases[] = {
      {"Zm9", ""},                 // not a multiple of 4
      {"Zm9v!m9v", "foo"},         // a foreign byte first in a group: nothing from it
      {"Zm9vY!==", "foo"},         // second in a group
      {"Zm9vYm!v", "foo" "b"},     // third: one byte
      {"Zm9vYmE!Zm9v", "foo" "ba"},  // fourth: two bytes, and nothing after
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Base64DecodeText(text), expected);
  }
}
