#include <gtest/gtest.h>

#include <string>

#include "core/BookmarkFile.h"

namespace {

// Lines end at CR LF, LF or a lone CR, and the last line needs no end.
TEST(BookmarkFile, EveryLineEndEndsALine) {
  const std::vector<BookmarkEntry> want{{false, u"A", u"x", {}}, {false, u"B", u"y", {}}, {false, u"C", u"z", {}}};
  for (const char* text : {"ITEM,A,x\r\nITEM,B,y\r\nITEM,C,z\r\n", "ITEM,A,x\nITEM,B,y\rITEM,C,z",
                           "ITEM,A,x\r\r\nITEM,B,y\n\nITEM,C,z\r\n"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseBookmarkFile(text), want);
  }
  EXPECT_EQ(BookmarkFileText(want), "ITEM,A,x\r\nITEM,B,y\r\nITEM,C,z\r\n");
}

// A file of deeper folders than the limit keeps everything, inside the
// deepest folder allowed, and the closes after it still find their folders.
TEST(BookmarkFile, FoldersNestNoDeeperThanTheLimit) {
  const std::size_t depth = kMaxBookmarkFolderDepth + 10;
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) text += "FOLDER_OPEN,f" + std::to_string(i) + "\r\n";
  text += "ITEM,deep,k\r\n";
  for (std::size_t i = 0; i < depth; ++i) text += "FOLDER_CLOSE\r\n";
  text += "ITEM,after,k\r\n";

  const std::vector<BookmarkEntry> top = ParseBookmarkFile(text);
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[1], (BookmarkEntry{false, u"after", u"k", {}}));
  const BookmarkEntry* e = &top[0];
  std::size_t levels = 1;
  while (e->folder && e->entries.size() == 1 && e->entries[0].folder) {
    e = &e->entries[0];
    ++levels;
  }
  EXPECT_EQ(levels, kMaxBookmarkFolderDepth);
  ASSERT_EQ(e->entries.size(), 1u);
  EXPECT_EQ(e->entries[0].caption, u"deep");
  EXPECT_EQ(ParseBookmarkFile(BookmarkFileText(top)), top);
}

}  // namespace
