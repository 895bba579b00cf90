#pragma once

// The bookmark file: 8-bit text in the active code page, one entry a line,
// CR LF after each. Lines beginning "//" or "##" are comments. Every other
// line is comma text (core/CommaText.h):
//   ITEM,caption,key path      a bookmark in the current folder
//   FOLDER_OPEN,caption        a folder in the current folder, then current
//   FOLDER_CLOSE               back to the current folder's parent
// Keywords are upper case and compared exactly; further fields are ignored;
// any other line, or one with too few fields, is skipped, and so is a
// FOLDER_CLOSE at the top level. A folder left open holds the rest of the
// file.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct BookmarkEntry {
  bool folder = false;
  std::u16string caption;
  std::u16string keyPath;               // a bookmark's
  std::vector<BookmarkEntry> entries;   // a folder's, in file order
  bool operator==(const BookmarkEntry&) const = default;
};

// Folders nest at most this deep. A deeper FOLDER_OPEN and its FOLDER_CLOSE
// are skipped, and what stands between them goes into the deepest folder, so
// a hostile file cannot make the readers of the tree recurse without bound.
inline constexpr std::size_t kMaxBookmarkFolderDepth = 64;

// The entries of a file's bytes, in file order. Lines end at CR LF, LF or CR.
std::vector<BookmarkEntry> ParseBookmarkFile(std::string_view bytes);

// The file's text for the entries: each folder as FOLDER_OPEN, its entries
// and FOLDER_CLOSE; ParseBookmarkFile reads it back to the same entries.
std::string BookmarkFileText(const std::vector<BookmarkEntry>& entries);
