#include "core/BookmarkFile.h"

#include "core/CommaText.h"
#include "platform/Text.h"

namespace {

const std::u16string kItem = u"ITEM";
const std::u16string kFolderOpen = u"FOLDER_OPEN";
const std::u16string kFolderClose = u"FOLDER_CLOSE";

void appendLine(std::string& out, std::span<const std::u16string> fields) {
  platform::appendWideToAnsi(JoinCommaText(fields), out);
  out += "\r\n";
}

void appendEntries(std::string& out, const std::vector<BookmarkEntry>& entries) {
  for (const BookmarkEntry& e : entries) {
    if (e.folder) {
      appendLine(out, std::vector<std::u16string>{kFolderOpen, e.caption});
      appendEntries(out, e.entries);
      appendLine(out, std::vector<std::u16string>{kFolderClose});
    } else {
      appendLine(out, std::vector<std::u16string>{kItem, e.caption, e.keyPath});
    }
  }
}

}  // namespace

std::vector<BookmarkEntry> ParseBookmarkFile(std::string_view bytes) {
  std::vector<BookmarkEntry> top;
  // The open folders, outermost first. Entries are only ever appended to the
  // innermost one, so the pointers into their parents' vectors stay valid.
  std::vector<std::vector<BookmarkEntry>*> open{&top};
  std::size_t skippedOpens = 0;  // FOLDER_OPENs past the depth limit
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(pos, end - pos);
    pos = end + 1;
    if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n') ++pos;

    if (line.starts_with("//") || line.starts_with("##")) continue;
    const std::vector<std::u16string> f = SplitCommaText(platform::ansiToWide(line));
    if (f.empty()) continue;
    std::vector<BookmarkEntry>& current = *open.back();
    if (f[0] == kItem && f.size() >= 3) {
      current.push_back(BookmarkEntry{false, f[1], f[2], {}});
    } else if (f[0] == kFolderOpen && f.size() >= 2) {
      if (open.size() > kMaxBookmarkFolderDepth) {
        ++skippedOpens;
        continue;
      }
      current.push_back(BookmarkEntry{true, f[1], {}, {}});
      open.push_back(&current.back().entries);
    } else if (f[0] == kFolderClose) {
      if (skippedOpens > 0)
        --skippedOpens;
      else if (open.size() > 1)
        open.pop_back();
    }
  }
  return top;
}

std::string BookmarkFileText(const std::vector<BookmarkEntry>& entries) {
  std::string out;
  appendEntries(out, entries);
  return out;
}
