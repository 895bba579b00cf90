// Feeds arbitrary bytes to the task dialog's rich-text reader: it must end
// without a crash, give no empty run, merge neighbours of one format, and give
// no more text than the bytes can hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "taskdialog/TdRtfReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<TdRtfRun> runs = TdReadRtf(std::span(data, size));
  std::size_t length = 0;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].Text.empty()) std::abort();
    if (i > 0 && runs[i].Bold == runs[i - 1].Bold && runs[i].Italic == runs[i - 1].Italic &&
        runs[i].Underline == runs[i - 1].Underline)
      std::abort();
    length += runs[i].Text.size();
  }
  // A byte gives at most one character, save the surrogate pairs of the
  // four-byte sequences of some code pages.
  if (length > size) std::abort();
  (void)TdIsRtf(std::span(data, size));
  return 0;
}
