#include "editor/CodeEditTextBuffer.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CodePageGuard.h"
#include "tests/support/TempDir.h"
#include "tests/support/ThrownText.h"

using namespace codeedit;

namespace {

using Lines = std::vector<std::u16string>;

Lines linesOf(const TUnicodeStrings& list) {
  Lines lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(list.Strings(i));
  return lines;
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes every event of a buffer into one line of text, in the order they come.
struct EventLog {
  explicit EventLog(TCodeEditStringList& buffer) {
    buffer.OnChanging = [this](TCodeEditStringList&) { text += "Changing "; };
    buffer.OnChange = [this](TCodeEditStringList&) { text += "Change "; };
    buffer.OnLinesCleared = [this](TCodeEditStringList&) { text += "Cleared "; };
    const auto lines = [this](const char* name) {
      return [this, name](TCodeEditStringList&, int index, int count) {
        text += std::string(name) + "(" + std::to_string(index) + "," + std::to_string(count) + ") ";
      };
    };
    buffer.OnLinesInserted = lines("Inserted");
    buffer.OnLinesDeleted = lines("Deleted");
    buffer.OnLinePut = lines("Put");
  }
  std::string text;
};

std::unique_ptr<TCodeEditStringList> bufferOf(const Lines& lines) {
  auto buffer = std::make_unique<TCodeEditStringList>();
  for (const auto& line : lines) buffer->Add(line);
  return buffer;
}

}  // namespace

TEST(TCodeEditStringList, ANewBufferIsEmptyWithCrLfAndTabWidthEight) {
  TCodeEditStringList buffer;
  EXPECT_EQ(buffer.Count(), 0);
  EXPECT_EQ(buffer.LineBreakKind(), lbkCRLF);
  EXPECT_EQ(buffer.TabWidth(), 8);
  EXPECT_EQ(buffer.GetLongestLineLength(), 0);
  EXPECT_EQ(buffer.SaveFormat(), sfUTF16LE);
}

TEST(TCodeEditStringList, SetAllTextSplitsLinesAndNotesTheLineBreak) {
  struct Case {
    std::u16string text;
    bool finalLineBreak;
    Lines lines;
    TCodeLineBreakKind kind;
  } cases[] = {
      {u"a\nb\n", false, {u"a", u"b", u""}, lbkLF},
      {u"a\nb\n", true, {u"a", u"b"}, lbkLF},
      {u"a\r\nb", false, {u"a", u"b"}, lbkCRLF},
      {u"a\rb", false, {u"a", u"b"}, lbkCR},
      {u"a\r\rb", false, {u"a", u"", u"b"}, lbkCR},
      {u"a\r\nb\nc", false, {u"a", u"b", u"c"}, lbkCRLF},
      {u"a\n\rb", false, {u"a", u"", u"b"}, lbkCRLF},
      {u"a\u2028b\r\n", false, {u"a", u"b", u""}, lbkLineSeparator},
      {u"abc", false, {u"abc"}, lbkCRLF},
      {u"", false, {}, lbkCRLF},
      // Only CR, LF and U+2028 break a line here: everything else is content.
      {std::u16string(u"a\0b\vc\u2029d", 7), false, {std::u16string(u"a\0b\vc\u2029d", 7)}, lbkCRLF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text.size() << " characters, final break " << c.finalLineBreak);
    TCodeEditStringList buffer;
    buffer.SetLineBreakKind(lbkCR);
    buffer.SetFinalLineBreak(c.finalLineBreak);
    buffer.SetAllText(c.text);
    EXPECT_EQ(linesOf(buffer), c.lines);
    EXPECT_EQ(buffer.LineBreakKind(), c.kind);
  }
}

TEST(TCodeEditStringList, ASaveWritesTheLineBreaksTheTextCameWith) {
  TCodeEditStringList buffer;
  buffer.SetFinalLineBreak(true);
  buffer.SetAllText(u"a\nb\n");
  buffer.SetSaveFormat(sfUTF8);
  std::ostringstream out;
  buffer.SaveToStream(out, false);
  EXPECT_EQ(out.str(), "a\nb\n");
  // Outside loading and saving the text is always joined by CR LF.
  EXPECT_EQ(buffer.Text(), u"a\r\nb");

  // A loaded file goes back byte for byte, U+2028 breaks included.
  for (const std::string bytes : {"\xEF\xBB\xBFx\xE2\x80\xA8y", "\xEF\xBB\xBFx\ry\r\r"}) {
    TCodeEditStringList loaded;
    std::istringstream in(bytes);
    loaded.LoadFromStream(in);
    std::ostringstream again;
    loaded.SaveToStream(again, true);
    EXPECT_EQ(again.str(), bytes);
  }
}

TEST(TCodeEditStringList, LoadingReadsTheByteOrderMark) {
  struct Case {
    std::string bytes;
    TCodeSaveFormat format;
    Lines lines;
  } cases[] = {
      {"\xFF\xFE", sfUTF16LE, {}},
      {"\xFF\xFE\x41", sfUTF16LE, {}},
      {std::string("\xFE\xFF\x00\x41\x00\x0D\x00\x0A", 8), sfUTF16BE, {u"A", u""}},
      {"", sfAnsi, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes.size() << " bytes");
    TCodeEditStringList buffer;
    buffer.Add(u"old");
    std::istringstream in(c.bytes);
    buffer.LoadFromStream(in);
    EXPECT_EQ(buffer.SaveFormat(), c.format);
    EXPECT_EQ(linesOf(buffer), c.lines);
  }
}

TEST(TCodeEditStringList, EightBitRegLinesReachTheBufferIntact) {
  {
    CodePageGuard pinned(1252);
    TCodeEditStringList buffer;
    buffer.AddAnsiStrings({"caf\xE9"});
    std::istringstream in("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\caf\xE9]\r\n");
    TCodeEditStringList loaded;
    loaded.LoadFromStream(in);
    EXPECT_EQ(linesOf(buffer), Lines{u"caf\u00E9"});
    EXPECT_EQ(linesOf(loaded), (Lines{u"REGEDIT4", u"", u"[HKEY_CURRENT_USER\\caf\u00E9]", u""}));
    EXPECT_EQ(loaded.SaveFormat(), sfAnsi);
  }
  CodePageGuard utf8(65001);
  TCodeEditStringList buffer;
  buffer.AddStrings({"\"caf\xC3\xA9\"=\"1\""});
  EXPECT_EQ(linesOf(buffer), Lines{u"\"caf\u00E9\"=\"1\""});
}

TEST(TCodeEditStringList, SaveToFileOfANewBufferWritesUtf16WithAMark) {
  testsupport::TempDir dir;
  const auto file = dir / "redo.txt";
  auto buffer = bufferOf({u"a", u"\u00E9"});
  buffer->SaveToFile(file.string());
  EXPECT_EQ(readFile(file), std::string("\xFF\xFE" "a\0\r\0\n\0\xE9\0", 10));
  EXPECT_TRUE(buffer->Saved());
}

namespace {

// Lets no file of this process grow beyond `bytes` while it lives; a write
// past that fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, oldHandler_);
  }

private:
  rlimit previous_{};
  void (*oldHandler_)(int) = nullptr;
};

}  // namespace

TEST(TCodeEditStringList, ASaveThatFailsPartWayLeavesTheOldFileWhole) {
  testsupport::TempDir dir;
  const auto file = dir / "log.txt";
  std::ofstream(file, std::ios::binary) << "old text";
  auto buffer = bufferOf({std::u16string(4000, u'x'), u"y"});
  {
    FileSizeLimit limit(1024);
    EXPECT_THROW(buffer->SaveToFile(file.string()), EStreamError);
  }
  EXPECT_EQ(readFile(file), "old text");
  EXPECT_FALSE(buffer->Saved());

  // A conversion handler that throws stops the save before the file is touched.
  buffer->SetSaveFormat(sfAnsi);
  buffer->PutString(1, u"\u0141");
  buffer->OnConfirmConversion = [](TUnicodeStrings&, bool&) { throw std::runtime_error("asked"); };
  EXPECT_THROW(buffer->SaveToFile(file.string()), std::runtime_error);
  EXPECT_EQ(readFile(file), "old text");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(TCodeEditStringList, EveryOperationReportsInItsOrder) {
  int object = 0;
  struct Case {
    const char* name;
    std::function<void(TCodeEditStringList&)> run;
    std::string events;
  } cases[] = {
      {"Add", [](auto& b) { b.Add(u"x"); }, "Changing Inserted(3,1) Change "},
      {"Insert", [](auto& b) { b.Insert(1, u"x"); }, "Changing Inserted(1,1) Change "},
      {"PutString", [](auto& b) { b.PutString(1, u"x"); }, "Changing Put(1,1) Change "},
      {"PutString at Count", [](auto& b) { b.PutString(3, u"x"); }, "Changing Inserted(3,1) Change "},
      {"PutObject", [&](auto& b) { b.PutObject(0, &object); }, "Changing Change "},
      {"PutRange", [](auto& b) { b.PutRange(0, 7); }, "Changing Change "},
      {"Exchange", [](auto& b) { b.Exchange(0, 2); }, "Changing Change "},
      {"Delete", [](auto& b) { b.Delete(1); }, "Changing Deleted(1,1) Change "},
      {"DeleteLines", [](auto& b) { b.DeleteLines(0, 2); }, "Changing Change Deleted(0,2) "},
      {"DeleteLines at the end", [](auto& b) { b.DeleteLines(2, 5); }, "Deleted(2,1) "},
      {"DeleteLines of none", [](auto& b) { b.DeleteLines(9, 0); }, ""},
      {"InsertLines", [](auto& b) { b.InsertLines(1, 2); }, "Changing Inserted(1,2) Change "},
      {"InsertLines of none", [](auto& b) { b.InsertLines(1, 0); }, ""},
      {"Clear", [](auto& b) { b.Clear(); }, "Changing Cleared Change "},
      {"AddUnicodeStrings",
       [](auto& b) {
         TUnicodeStringList source;
         source.Add(u"p");
         source.Add(u"q");
         b.AddUnicodeStrings(source);
       },
       "Changing Inserted(3,2) Change "},
      {"AddUnicodeStrings of none", [](auto& b) { b.AddUnicodeStrings(TUnicodeStringList()); }, ""},
      {"SetAllText", [](auto& b) { b.SetAllText(u"p\nq"); },
       "Changing Cleared Inserted(0,1) Inserted(1,1) Change "},
      {"LoadFromStream",
       [](auto& b) {
         std::istringstream in("p");
         b.LoadFromStream(in);
       },
       "Changing Cleared Inserted(0,1) Change "},
      {"an update",
       [](auto& b) {
         b.BeginUpdate();
         b.Add(u"p");
         b.Delete(0);
         b.EndUpdate();
       },
       "Changing Inserted(3,1) Deleted(0,1) Change "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto buffer = bufferOf({u"a", u"b", u"c"});
    EventLog log(*buffer);
    c.run(*buffer);
    EXPECT_EQ(log.text, c.events);
  }
}

TEST(TCodeEditStringList, ChangesAreSeenWholeByTheChangeHandler) {
  auto buffer = bufferOf({u"a", u"b", u"c", u"d"});
  Lines seen;
  buffer->OnChange = [&](TCodeEditStringList& b) { seen = linesOf(b); };
  buffer->DeleteLines(1, 2);
  EXPECT_EQ(seen, (Lines{u"a", u"d"}));
  buffer->AddUnicodeStrings(*buffer);
  EXPECT_EQ(seen, (Lines{u"a", u"d", u"a", u"d"}));
  buffer->InsertLines(4, 1);
  EXPECT_EQ(seen, (Lines{u"a", u"d", u"a", u"d", u""}));
}

TEST(TCodeEditStringList, DestructionFiresNothing) {
  std::string events;
  {
    auto buffer = bufferOf({u"a", u"b"});
    EventLog log(*buffer);
    buffer->OnChange = [&](TCodeEditStringList&) { events += "Change "; };
    buffer->OnChanging = [&](TCodeEditStringList&) { events += "Changing "; };
    buffer->OnLinesCleared = [&](TCodeEditStringList&) { events += "Cleared "; };
  }
  EXPECT_EQ(events, "");
}

TEST(TCodeEditStringList, BadIndexesRaiseBeforeAnyChange) {
  int object = 0;
  struct Case {
    const char* name;
    std::function<void(TCodeEditStringList&)> run;
    std::string message;
  } cases[] = {
      {"Insert past Count", [](auto& b) { b.Insert(4, u"x"); }, "Invalid stringlist index 4"},
      {"PutString past Count", [](auto& b) { b.PutString(5, u"x"); }, "Invalid stringlist index 5"},
      {"PutString below 0", [](auto& b) { b.PutString(-1, u"x"); }, "Invalid stringlist index -1"},
      {"PutObject at Count", [&](auto& b) { b.PutObject(3, &object); }, "Invalid stringlist index 3"},
      {"PutRange", [](auto& b) { b.PutRange(-2, 1); }, "Invalid stringlist index -2"},
      {"Delete at Count", [](auto& b) { b.Delete(3); }, "Invalid stringlist index 3"},
      {"DeleteLines past Count", [](auto& b) { b.DeleteLines(4, 1); }, "Invalid stringlist index 4"},
      {"InsertLines below 0", [](auto& b) { b.InsertLines(-1, 1); }, "Invalid stringlist index -1"},
      {"Exchange second", [](auto& b) { b.Exchange(0, 3); }, "Invalid stringlist index 3"},
      {"SetCapacity below Count", [](auto& b) { b.SetCapacity(2); },
       "Stringlist capacity cannot be smaller than count"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto buffer = bufferOf({u"a", u"b", u"c"});
    const int capacity = buffer->GetCapacity();
    EventLog log(*buffer);
    EXPECT_EQ(thrownText([&] { c.run(*buffer); }), c.message);
    EXPECT_EQ(log.text, "");
    EXPECT_EQ(linesOf(*buffer), (Lines{u"a", u"b", u"c"}));
    EXPECT_EQ(buffer->GetCapacity(), capacity);
  }
  auto buffer = bufferOf({u"a"});
  EXPECT_THROW(buffer->InsertLines(1, std::numeric_limits<int>::max()), std::bad_alloc);
  EXPECT_EQ(linesOf(*buffer), Lines{u"a"});
  EXPECT_THROW(buffer->Delete(1), ECodeEditStringList);
  EXPECT_THROW(buffer->SetCapacity(0), EListError);
  // Reading a bad index answers empty.
  EXPECT_EQ(buffer->GetString(5), u"");
  EXPECT_EQ(buffer->GetObject(-1), nullptr);
  EXPECT_EQ(buffer->GetExpandedString(1), u"");
  EXPECT_EQ(buffer->GetExpandedLength(1), 0);
}

TEST(TCodeEditStringList, ExpandedLengthsAreComputedLazilyThroughTheGlyphExpander) {
  // A stand-in for the editor's expander: a filler before each wide character.
  TCodeEditStringList buffer([](std::u16string_view line) {
    std::u16string filled;
    for (char16_t c : line) {
      if (c >= 0x1100) filled.push_back(u'\uE000');
      filled.push_back(c);
    }
    return filled;
  });
  buffer.SetTabWidth(4);
  buffer.Add(u"a\t");
  buffer.Add(u"\u4E2D\u6587");
  buffer.Add(u"");
  EXPECT_EQ(buffer.GetLineFlags(0), lfExpandedLengthStale);
  EXPECT_EQ(buffer.GetExpandedString(0), u"a\t\t\t");
  EXPECT_EQ(buffer.GetExpandedLength(0), 4);
  EXPECT_EQ(buffer.GetLineFlags(0), lfHasTabs);
  EXPECT_EQ(buffer.GetExpandedLength(1), 4);
  EXPECT_EQ(buffer.GetExpandedString(1), u"\u4E2D\u6587");
  EXPECT_EQ(buffer.GetLineFlags(1), lfHasNoTabs);
  EXPECT_EQ(buffer.GetExpandedLength(2), 0);
  EXPECT_EQ(buffer.GetLongestLineLength(), 4);
  EXPECT_EQ(buffer.LongestLineIndex(), 0);

  buffer.SetTabWidth(4);  // the same width: nothing goes stale
  EXPECT_EQ(buffer.LongestLineIndex(), 0);
  EXPECT_EQ(buffer.GetLineFlags(1), lfHasNoTabs);
  buffer.SetTabWidth(8);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(buffer.GetLineFlags(i) & lfExpandedLengthStale) << i;
  EXPECT_EQ(buffer.GetExpandedLength(0), 8);
  EXPECT_EQ(buffer.GetLongestLineLength(), 8);

  buffer.PutString(2, u"0123456789");
  EXPECT_EQ(buffer.LongestLineIndex(), -1);
  EXPECT_EQ(buffer.GetLongestLineLength(), 10);
  buffer.SetTabWidth(1);
  EXPECT_EQ(buffer.GetExpandedString(0), u"a ");
}

TEST(TCodeEditStringList, TheLongestLineKeepsTheEarlierTieAndFollowsExchange) {
  auto buffer = bufferOf({u"ab", u"x", u"cd"});
  EXPECT_EQ(buffer->GetLongestLineLength(), 2);
  EXPECT_EQ(buffer->LongestLineIndex(), 0);
  buffer->Exchange(0, 1);
  EXPECT_EQ(buffer->LongestLineIndex(), 1);
  EXPECT_EQ(buffer->GetLongestLineLength(), 2);
  buffer->Exchange(2, 1);
  EXPECT_EQ(buffer->LongestLineIndex(), 2);
  EXPECT_EQ(buffer->GetString(2), u"ab");

  auto empty = bufferOf({u"", u""});
  EXPECT_EQ(empty->GetLongestLineLength(), 0);
  EXPECT_EQ(empty->LongestLineIndex(), -1);
}

TEST(TCodeEditStringList, LinesKeepTheirTextRangeAndObjectThroughMoves) {
  int first = 1, second = 2;
  auto buffer = bufferOf({u"a", u"b", u"c", u"d"});
  buffer->PutObject(0, &first);
  buffer->PutRange(0, 11);
  buffer->PutObject(3, &second);
  EXPECT_EQ(buffer->GetRange(1), -1);
  buffer->InsertLines(1, 2);
  EXPECT_EQ(linesOf(*buffer), (Lines{u"a", u"", u"", u"b", u"c", u"d"}));
  buffer->Delete(3);
  buffer->Move(0, 4);
  EXPECT_EQ(linesOf(*buffer), (Lines{u"", u"", u"c", u"d", u"a"}));
  EXPECT_EQ(buffer->GetObject(4), &first);
  EXPECT_EQ(buffer->GetObject(3), &second);
  // Move takes text and object along, not the highlighter state; Exchange takes all.
  EXPECT_EQ(buffer->GetRange(4), -1);
  buffer->PutRange(4, 11);
  buffer->Exchange(4, 0);
  EXPECT_EQ(buffer->GetRange(0), 11);
  EXPECT_EQ(buffer->GetObject(0), &first);
  EXPECT_EQ(buffer->LineView(3), u"d");
  EXPECT_EQ(buffer->LineView(3).data()[1], u'\0');  // drawing code may rely on the 0
  // A line may be replaced by a part of itself, or copied by its own view.
  buffer->PutString(3, u"defgh");
  buffer->PutString(3, buffer->LineView(3).substr(1));
  buffer->Insert(0, buffer->LineView(3));
  EXPECT_EQ(buffer->GetString(4), u"efgh");
  EXPECT_EQ(buffer->GetString(0), u"efgh");
  buffer->Clear();
  EXPECT_EQ(buffer->GetCapacity(), 0);
}

// --- Undo list --------------------------------------------------------------------

namespace {

struct UndoFixture : testing::Test {
  UndoFixture() {
    list.OnEntryAdded = [this](TCodeEditUndoList&) { ++notified; };
  }
  void add(char16_t c = u'x') { list.AddChange(crInsert, {1, 1}, {2, 1}, std::u16string(1, c), smNormal); }
  std::vector<std::uint32_t> groups() {
    std::vector<std::uint32_t> numbers;
    TCodeEditUndoList copy;
    copy.Assign(list);
    while (auto item = copy.PopItem()) numbers.insert(numbers.begin(), item->GroupNumber);
    return numbers;
  }

  TCodeEditUndoList list;
  int notified = 0;
};

}  // namespace

using TCodeEditUndoListTest = UndoFixture;

TEST_F(TCodeEditUndoListTest, EntriesOutsideABlockGetOwnNumbersAndNotifyEach) {
  EXPECT_EQ(list.LastChangeReason(), crReserved20);
  EXPECT_FALSE(list.PopItem());
  add();
  add();
  add();
  EXPECT_EQ(groups(), (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(notified, 3);
  const TCodeEditUndoItem* newest = list.PeekItem();
  ASSERT_NE(newest, nullptr);
  EXPECT_EQ(newest->Text, u"x");
  EXPECT_EQ(newest->EndPos, (TBufferCoord{2, 1}));
}

TEST_F(TCodeEditUndoListTest, ABlockSharesOneNumberAndNotifiesOnceMoreAtItsEnd) {
  for (const bool nested : {false, true}) {
    SCOPED_TRACE(nested ? "nested" : "single");
    list.Clear();
    notified = 0;
    add();  // number n
    list.BeginBlock();
    if (nested) list.BeginBlock();
    add();
    if (nested) list.EndBlock();
    add();
    EXPECT_EQ(notified, 3);
    list.EndBlock();
    EXPECT_EQ(notified, 4);
    EXPECT_EQ(list.BlockDepth(), 0);
    EXPECT_EQ(list.BlockNumber(), 0u);
    add();
    const auto g = groups();
    ASSERT_EQ(g.size(), 4u);
    EXPECT_EQ(g[1], g[0] + 1);
    EXPECT_EQ(g[2], g[1]);
    EXPECT_EQ(g[3], g[1] + 1);  // the block took exactly one number
  }
  // An end without a begin changes nothing and tells nobody.
  notified = 0;
  list.EndBlock();
  EXPECT_EQ(list.BlockDepth(), 0);
  EXPECT_EQ(notified, 0);
  // An empty block says nothing either.
  list.BeginBlock();
  list.EndBlock();
  EXPECT_EQ(notified, 0);
}

TEST_F(TCodeEditUndoListTest, TheLimitDropsTheOldestGroups) {
  list.SetMaxEntries(2);
  add();
  add();
  EXPECT_FALSE(list.Truncated());
  add(u'c');
  EXPECT_TRUE(list.Truncated());
  EXPECT_EQ(groups(), (std::vector<std::uint32_t>{2, 3}));
  list.Clear();
  EXPECT_FALSE(list.Truncated());

  // Whole groups go: a block of two behind a newer entry leaves together.
  list.BeginBlock();
  add();
  add();
  list.EndBlock();
  EXPECT_EQ(list.ItemCount(), 2);
  add();
  EXPECT_EQ(list.ItemCount(), 1);  // both entries of the block left together
  add();
  EXPECT_EQ(list.ItemCount(), 2);

  list.SetMaxEntries(-5);
  EXPECT_EQ(list.MaxEntries(), 0);
  EXPECT_EQ(list.ItemCount(), 0);
  notified = 0;
  add();
  EXPECT_EQ(list.ItemCount(), 0);
  EXPECT_EQ(notified, 1);
}

TEST_F(TCodeEditUndoListTest, ABlockOverTheLimitStaysWholeAndUndoesAsOneGroup) {
  add();
  add();
  list.BeginBlock();
  for (int i = 0; i < 3000; ++i) add();
  list.EndBlock();
  EXPECT_EQ(list.MaxEntries(), 1024);
  EXPECT_EQ(list.ItemCount(), 3000);
  EXPECT_TRUE(list.Truncated());
  const std::uint32_t group = list.PeekItem()->GroupNumber;
  int popped = 0;
  while (auto item = list.PopItem()) {
    EXPECT_EQ(item->GroupNumber, group);
    ++popped;
  }
  EXPECT_EQ(popped, 3000);
  // The next single entry drops the whole old block at once.
  list.BeginBlock();
  for (int i = 0; i < 1500; ++i) add();
  list.EndBlock();
  add();
  EXPECT_EQ(list.ItemCount(), 1);
}

TEST_F(TCodeEditUndoListTest, GroupBreaksAreRecordedOnceAndSilently) {
  add();
  notified = 0;
  list.AddGroupBreak();
  list.AddGroupBreak();
  EXPECT_EQ(list.ItemCount(), 2);
  EXPECT_EQ(list.LastChangeReason(), crGroupBreakEntry);
  EXPECT_EQ(notified, 0);
  TCodeEditUndoList empty;
  empty.AddGroupBreak();
  EXPECT_EQ(empty.ItemCount(), 1);
}

TEST_F(TCodeEditUndoListTest, ALockedListRecordsNothing) {
  list.Lock();
  add();
  list.AddGroupBreak();
  list.Unlock();
  EXPECT_EQ(list.ItemCount(), 0);
  EXPECT_EQ(notified, 0);
  list.Unlock();  // below zero stays zero: the next entry is recorded
  add();
  EXPECT_EQ(list.ItemCount(), 1);
}

TEST_F(TCodeEditUndoListTest, TheSavedStateComesBackWhenUndoingToIt) {
  list.MarkUnmodified(true);
  EXPECT_TRUE(list.IsUnmodifiedState());
  add();
  EXPECT_FALSE(list.IsUnmodifiedState());
  auto item = list.PopItem();
  EXPECT_TRUE(list.IsUnmodifiedState());
  list.PushItem(std::move(item));
  list.MarkUnmodified(true);
  EXPECT_TRUE(list.IsUnmodifiedState());
  add();
  list.MarkUnmodified(false);  // not the marked state: nothing changes
  list.PopItem();
  EXPECT_TRUE(list.IsUnmodifiedState());
  list.MarkUnmodified(false);
  EXPECT_FALSE(list.IsUnmodifiedState());
  list.Clear();
  EXPECT_FALSE(list.IsUnmodifiedState());
}

TEST_F(TCodeEditUndoListTest, AssignCopiesEntriesAndNumberingButNotTheSavedState) {
  list.SetMaxEntries(10);
  add(u'a');
  list.BeginBlock();
  add(u'b');
  TCodeEditUndoList copy;
  copy.MarkUnmodified(false);
  copy.Assign(list);
  EXPECT_EQ(copy.ItemCount(), 2);
  EXPECT_EQ(copy.MaxEntries(), 10);
  EXPECT_EQ(copy.BlockDepth(), 1);
  EXPECT_EQ(copy.PeekItem()->Text, u"b");
  EXPECT_NE(copy.PeekItem(), list.PeekItem());
  copy.AddChange(crDelete, {}, {}, u"c", smColumn);
  EXPECT_EQ(copy.PeekItem()->GroupNumber, list.PeekItem()->GroupNumber);  // still in the copied block
  EXPECT_FALSE(copy.IsUnmodifiedState());
}
