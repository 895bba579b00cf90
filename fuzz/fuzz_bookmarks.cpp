// Feeds arbitrary bytes to the bookmark file reader: it must never crash, the
// entries it reads must write back to a file that reads to the same entries,
// and every line's fields must survive their comma text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/BookmarkFile.h"
#include "core/CommaText.h"
#include "platform/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<BookmarkEntry> entries = ParseBookmarkFile(bytes);
  if (ParseBookmarkFile(BookmarkFileText(entries)) != entries) std::abort();

  const std::vector<std::u16string> fields = SplitCommaText(platform::ansiToWide(bytes));
  if (SplitCommaText(JoinCommaText(fields)) != fields) std::abort();
  return 0;
}
