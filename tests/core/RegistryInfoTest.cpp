#include "core/UnitRegistryInfo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "tests/support/TempDir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes save(const TRegistryInfo& info) {
  Bytes out;
  info.WriteToStream(out);
  return out;
}

Bytes fromText(const std::string& s) { return Bytes(s.begin(), s.end()); }

void fill(TRegistryInfo& info) {
  auto& a = info.Add();
  a.Key = "\\Software\\Brantwell Limited";
  a.Info = {"first line", "", "third"};
  a.URLs = {"http://example.invalid/a"};
  auto& b = info.Add();
  b.Key = "\\Software\\Brantwell Limited";
  b.Value = "Path";
  b.Info = {std::string(300, 'x')};  // longer than a short string
  auto& c = info.Add();
  c.Key = "\\Software\\Ünïcode";
  c.Info = {"Grüße aus Köln", "Привет"};
}

TEST(RegistryInfo, EmptyCollectionIsSignatureListStartAndEnd) {
  TRegistryInfo info;
  EXPECT_EQ(save(info), (Bytes{0x54, 0x50, 0x46, 0x30, 0x01, 0x00}));
}

TEST(RegistryInfo, WritesTheStreamingFormat) {
  TRegistryInfo info;
  auto& item = info.Add();
  item.Key = "\\K";
  item.Info = {"a", "b"};
  const std::string expected = std::string("TPF0\x01", 5) + "\x06\x11TRegistryInfoItem" +
                               "\x06\x02\\K" + std::string("\x06\x00", 2) + "\x06\x06" "a\r\nb\r\n" +
                               std::string("\x06\x00", 2) + std::string("\x00", 1);
  EXPECT_EQ(save(info), fromText(expected));
}

TEST(RegistryInfo, SaveLoadSaveIsByteIdenticalAndKeepsEveryField) {
  TRegistryInfo info;
  fill(info);
  const Bytes first = save(info);

  TRegistryInfo loaded;
  loaded.ReadFromStream(first);
  ASSERT_EQ(loaded.Count(), 3);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(loaded.GetItem(i).Key, info.GetItem(i).Key);
    EXPECT_EQ(loaded.GetItem(i).Value, info.GetItem(i).Value);
    EXPECT_EQ(loaded.GetItem(i).Info, info.GetItem(i).Info);
    EXPECT_EQ(loaded.GetItem(i).URLs, info.GetItem(i).URLs);
  }
  EXPECT_EQ(save(loaded), first);
}

TEST(RegistryInfo, NonAsciiTextIsStoredAsUtf8) {
  TRegistryInfo info;
  auto& item = info.Add();
  item.Key = "\\K";
  item.Info = {"Grüße"};
  const Bytes bytes = save(info);
  // "Grüße" CR LF in UTF-8 is 9 bytes under tag 0x14 with a 4-byte count.
  const std::string utf8("\x14\x09\x00\x00\x00" "Gr\xC3\xBC\xC3\x9F" "e\r\n", 14);
  const std::string all(bytes.begin(), bytes.end());
  EXPECT_NE(all.find(utf8), std::string::npos);

  TRegistryInfo loaded;
  loaded.ReadFromStream(bytes);
  ASSERT_EQ(loaded.Count(), 1);
  EXPECT_EQ(loaded.GetItem(0).Info, (std::vector<std::string>{"Grüße"}));
}

TEST(RegistryInfo, NonAsciiTextOfAnotherCodePageGoesThroughUtf8) {
  const unsigned saved = platform::activeCodePage();
  platform::setActiveCodePage(1252);
  TRegistryInfo info;
  auto& item = info.Add();
  item.Key = "\\K";
  item.Info = {"Gr\xFC\xDF" "e"};  // "Grüße" in code page 1252
  const Bytes bytes = save(info);
  const std::string all(bytes.begin(), bytes.end());
  EXPECT_NE(all.find("Gr\xC3\xBC\xC3\x9F" "e\r\n"), std::string::npos);
  TRegistryInfo loaded;
  loaded.ReadFromStream(bytes);
  platform::setActiveCodePage(saved);
  ASSERT_EQ(loaded.Count(), 1);
  EXPECT_EQ(loaded.GetItem(0).Info, (std::vector<std::string>{"Gr\xFC\xDF" "e"}));
}

TEST(RegistryInfo, ReadsLongAndUtf16StringsAndSplitsAnyLineBreak) {
  std::string s = std::string("TPF0\x01", 5) + "\x06\x11TRegistryInfoItem";
  s += std::string("\x0C\x02\x00\x00\x00", 5) + "\\K";           // long string
  s += std::string("\x12\x02\x00\x00\x00", 5) + std::string("V\0\xE4\0", 4);  // UTF-16 "Vä"
  s += std::string("\x06\x07") + "a\rb\nc\r\n";  // CR, LF, CR LF
  s += std::string("\x06\x00", 2) + std::string("\x00", 1);
  TRegistryInfo info;
  info.ReadFromStream(fromText(s));
  ASSERT_EQ(info.Count(), 1);
  EXPECT_EQ(info.GetItem(0).Key, "\\K");
  EXPECT_EQ(info.GetItem(0).Value, "Vä");
  EXPECT_EQ(info.GetItem(0).Info, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(info.GetItem(0).URLs.empty());
}

TEST(RegistryInfo, StringsThatAreNotTheItemClassAreSkipped) {
  std::string s = std::string("TPF0\x01", 5) + "\x06\x05Other" + "\x06\x11TRegistryInfoItem" +
                  "\x06\x01K" + std::string("\x06\x00\x06\x00\x06\x00\x00", 7);
  TRegistryInfo info;
  info.ReadFromStream(fromText(s));
  ASSERT_EQ(info.Count(), 1);
  EXPECT_EQ(info.GetItem(0).Key, "K");
}

TEST(RegistryInfo, BrokenStreamsRaiseAndKeepWhatWasRead) {
  TRegistryInfo good;
  fill(good);
  const Bytes whole = save(good);

  struct Case {
    const char* name;
    Bytes bytes;
    const char* message;
  };
  Bytes cutInSecond(whole.begin(), whole.begin() + 120);
  Bytes badTag = fromText(std::string("TPF0\x01\x07", 6));
  Bytes hugeCount = fromText(std::string("TPF0\x01\x0C\xFF\xFF\xFF\x7F", 10));
  Bytes hugeWide = fromText(std::string("TPF0\x01\x12\xFF\xFF\xFF\xFF", 10));
  const Case cases[] = {
      {"empty", {}, "Invalid stream format"},
      {"foreign signature", fromText("SQLite format 3"), "Invalid stream format"},
      {"no list start", fromText(std::string("TPF0\x02", 5)), "Invalid property value"},
      {"no list end", fromText(std::string("TPF0\x01", 5)), "Stream read error"},
      {"unknown tag", badTag, "Invalid property value"},
      {"count beyond the end", hugeCount, "Stream read error"},
      {"wide count beyond the end", hugeWide, "Stream read error"},
      {"cut inside an item", cutInSecond, "Stream read error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TRegistryInfo info;
    try {
      info.ReadFromStream(c.bytes);
      ADD_FAILURE() << "no exception";
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    if (std::string(c.name) == "cut inside an item") {
      // The first item was whole and stays; the broken one is not added.
      ASSERT_EQ(info.Count(), 1);
      EXPECT_EQ(info.GetItem(0).Info, good.GetItem(0).Info);
    }
  }
}

TEST(RegistryInfo, FindKeyIgnoresCaseAndWantsTheKeyNote) {
  for (bool valueFirst : {true, false}) {
    SCOPED_TRACE(valueFirst ? "value note first" : "key note first");
    TRegistryInfo info;
    auto addNote = [&](const std::string& value) {
      auto& i = info.Add();
      i.Key = "\\Software\\Ünïcode";
      i.Value = value;
      i.Info = {value.empty() ? "key note" : "value note"};
    };
    if (valueFirst) addNote("Path");
    addNote("");
    if (!valueFirst) addNote("Path");

    for (const char* asked : {"\\Software\\Ünïcode", "\\SOFTWARE\\ÜNÏCODE", "\\software\\ünïcode"}) {
      SCOPED_TRACE(asked);
      TRegistryInfoItem* found = info.FindKey(asked);
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->Info, (std::vector<std::string>{"key note"}));
    }
    EXPECT_EQ(info.FindKey("\\Software"), nullptr);
  }
}

TEST(RegistryInfo, FilesRoundTripAndAMissingFileChangesNothing) {
  testsupport::TempDir dir;
  const std::string file = (dir / "Hivescope.rdb").string();
  TRegistryInfo info;
  fill(info);
  info.SaveToFile(file);

  TRegistryInfo loaded;
  loaded.Add().Key = "stale";
  loaded.LoadFromFile(file);
  ASSERT_EQ(loaded.Count(), 3);
  EXPECT_EQ(loaded.GetItem(2).Info, info.GetItem(2).Info);

  loaded.AppendFromFile((dir / "missing.rdb").string());
  EXPECT_EQ(loaded.Count(), 3);
  loaded.AppendFromFile(file);
  EXPECT_EQ(loaded.Count(), 6);

  // Saving over an existing file replaces it and leaves no temporary behind.
  TRegistryInfo empty;
  empty.SaveToFile(file);
  EXPECT_EQ(std::filesystem::file_size(file), 6u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(RegistryInfo, UncreatableFileRaises) {
  testsupport::TempDir dir;
  TRegistryInfo info;
  EXPECT_THROW(info.SaveToFile((dir / "no-folder" / "x.rdb").string()), EFCreateError);
}

TEST(RegistryInfo, AssignCopiesTheWholeNote) {
  TRegistryInfo info;
  fill(info);
  TRegistryInfoItem copy;
  copy.Assign(info.GetItem(1));
  EXPECT_EQ(copy.Key, info.GetItem(1).Key);
  EXPECT_EQ(copy.Value, "Path");
  EXPECT_EQ(copy.Info, info.GetItem(1).Info);
}

}  // namespace
