// Report texts of any shape through every parser of the details view, and
// the same bytes through the crash-UI message decoder.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crashreport/zebCrashUiDetails.h"
#include "crashreport/zebCrashUiProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static const std::string_view kSections[] = {"", "modules", "cpu registers", "stack dump",
                                               "processes", "disassembling", "hardware"};
  for (int tab = 0; tab < 3; ++tab)
    for (std::string_view section : kSections) {
      const zeb::DetailPage page = zeb::ParseDetailPage(tab, section, text);
      for (const zeb::TItem& item : page.items) (void)zeb::RowCells(page, item);
    }
  zeb::CrashUiDecoder decoder;
  decoder.Feed({data, size});
  zeb::CrashUiMessage message;
  while (decoder.Next(message)) {
    zeb::CrashUiReport report;
    zeb::ApplyReportMessage(message, report);
  }
  return 0;
}
