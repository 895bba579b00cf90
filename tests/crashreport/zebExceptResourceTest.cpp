// The settings resource: its reader against cut and corrupt bytes, the
// writer and the readable table, and the resource compiled into the program.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crashreport/zebExceptResource.h"

using namespace zeb;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::string kHeader = std::string("TPF0\x0aTZebExcept\x09zebExcept", 25);

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Collects what the reader reports instead of writing to standard error.
struct RecordedErrors {
  std::vector<std::string> texts;
  RecordedErrors() {
    SetSettingsErrorSink([this](const std::string& text, const std::string& caption) {
      EXPECT_EQ(caption, "zebExcept");
      texts.push_back(text);
    });
  }
  ~RecordedErrors() { SetSettingsErrorSink(nullptr); }
};

}  // namespace

TEST(zebExceptResource, ReadsEveryValueType) {
  std::string b = kHeader;
  auto name = [&](const std::string& n, char type) { b += char(n.size()) + n + type; };
  name("I8", 2), b += "\xfe";
  name("I16", 3), b += std::string("\x10\x80", 2);
  name("I32", 4), b += std::string("\x60\xea\x00\x00", 4);
  name("Short", 6), b += "\x03" "abc";
  name("Off", 8);
  name("On", 9);
  name("Long", 12), b += std::string("\x02\x00\x00\x00", 4) + "xy";
  name("Empty", 6), b += std::string(1, '\0');
  name("Wide", 18), b += std::string("\x02\x00\x00\x00", 4) + std::string("\xe9\x00\xac\x20", 4);
  b += std::string(2, '\0');
  RecordedErrors errors;
  std::vector<SettingEntry> entries;
  ASSERT_TRUE(ParseSettingsResource(bytesOf(b), entries));
  const std::vector<SettingEntry> expected{
      SettingEntry::Int("I8", -2),         SettingEntry::Int("I16", -32752), SettingEntry::Int("I32", 60000),
      SettingEntry::Text("Short", "abc"),  SettingEntry::Bool("Off", false), SettingEntry::Bool("On", true),
      SettingEntry::Text("Long", "xy"),    SettingEntry::Text("Empty", ""),
      SettingEntry::Text("Wide", "\xc3\xa9\xe2\x82\xac")};
  EXPECT_EQ(entries, expected);
  EXPECT_TRUE(errors.texts.empty());
}

TEST(zebExceptResource, UnknownTypeKeepsEarlierEntriesAndReports) {
  const std::string b = kHeader + "\x07" "Enabled" "\x09" "\x04" "Bad1" "\x05" "\x00\x00\x00\x00" "\x07" "Later" "\x09";
  RecordedErrors errors;
  std::vector<SettingEntry> entries;
  ParseSettingsResource(bytesOf(b), entries);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], SettingEntry::Bool("Enabled", true));
  ASSERT_EQ(errors.texts.size(), 1u);
  EXPECT_EQ(errors.texts[0], "Internal error: Invalid settings resource ($5).");
}

TEST(zebExceptResource, WrongHeaderGivesNoEntries) {
  std::string b = kHeader + "\x07" "Enabled" "\x09" + std::string(2, '\0');
  b[4] = 9;  // class name length
  std::vector<SettingEntry> entries;
  EXPECT_FALSE(ParseSettingsResource(bytesOf(b), entries));
  EXPECT_TRUE(entries.empty());
}

// Every prefix of the program's resource, in a buffer of exactly its size so
// that the sanitizer build catches a read past the end, gives a prefix of the
// whole resource's entries and, past the header, one report.
TEST(zebExceptResource, ResourceCutAtEveryOffsetIsReadWithinItsBytes) {
  const auto whole = CompiledSettingsResource();
  std::vector<SettingEntry> all;
  ASSERT_TRUE(ParseSettingsResource(whole, all));
  RecordedErrors errors;
  for (std::size_t size = 0; size < whole.size() - 1; ++size) {
    SCOPED_TRACE(size);
    const Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(size));
    std::vector<SettingEntry> entries;
    errors.texts.clear();
    const bool read = ParseSettingsResource(cut, entries);
    EXPECT_EQ(read, size >= kHeader.size());
    ASSERT_LE(entries.size(), all.size());
    EXPECT_TRUE(std::equal(entries.begin(), entries.end(), all.begin()));
    EXPECT_EQ(errors.texts.size(), read ? 1u : 0u);
  }
}

TEST(zebExceptResource, WriterRoundTripsThroughReader) {
  const std::vector<SettingEntry> entries{
      SettingEntry::Int("Small", -128),      SettingEntry::Int("Medium", 32767),  SettingEntry::Int("Large", -32769),
      SettingEntry::Bool("Yes", true),       SettingEntry::Bool("No", false),      SettingEntry::Text("Empty", ""),
      SettingEntry::Text("Long", std::string(300, 'q'))};
  std::vector<SettingEntry> back;
  ASSERT_TRUE(ParseSettingsResource(WriteSettingsResource(entries), back));
  EXPECT_EQ(back, entries);
}

TEST(zebExceptResource, TableLinesAndTheirErrors) {
  std::string error;
  const auto entries = ParseSettingsTable("# comment\n\nA bool true\nB int -5\nC text two words\nD text\nE text a\\nb\n", &error);
  EXPECT_TRUE(error.empty()) << error;
  const std::vector<SettingEntry> expected{SettingEntry::Bool("A", true), SettingEntry::Int("B", -5),
                                           SettingEntry::Text("C", "two words"), SettingEntry::Text("D", ""),
                                           SettingEntry::Text("E", "a\r\nb")};
  EXPECT_EQ(entries, expected);
  for (const char* bad : {"A bool maybe", "B int 1x", "C colour red", "SmtpKey password x"}) {
    SCOPED_TRACE(bad);
    error.clear();
    ParseSettingsTable(bad, &error);
    EXPECT_EQ(error, "line 1: " + std::string(bad));
  }
}

// The checked-in resource is what the generator makes of the checked-in table.
TEST(zebExceptResource, CompiledResourceIsTheTableOfThisProgram) {
  const std::string table = readFile(HIVESCOPE_SOURCE_DIR "/crashreport/settings/Hivescope.settings");
  ASSERT_FALSE(table.empty());
  std::string error;
  const auto entries = ParseSettingsTable(table, &error);
  ASSERT_TRUE(error.empty()) << error;
  const auto compiled = CompiledSettingsResource();
  EXPECT_EQ(WriteSettingsResource(entries), Bytes(compiled.begin(), compiled.end()));
  std::vector<SettingEntry> read;
  ASSERT_TRUE(ParseSettingsResource(compiled, read));
  EXPECT_EQ(read, entries);
}
