// Feeds arbitrary bytes to the editor's text-file reader: whatever mark they
// start with, the lines must save in the format found and load back the same,
// and measuring every line (with a tab width taken from the input) must stay
// within the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "editor/CodeEditTextBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  codeedit::TCodeEditStringList lines;
  std::istringstream in(bytes);
  lines.LoadFromStream(in);

  lines.SetTabWidth(size > 0 ? 1 + data[0] % 16 : 8);
  const int longest = lines.GetLongestLineLength();
  for (int i = 0; i < lines.Count(); ++i)
    if (lines.GetExpandedLength(i) > longest || lines.GetExpandedLength(i) < 0) std::abort();

  std::ostringstream saved;
  lines.SaveToStream(saved, true);
  codeedit::TCodeEditStringList again;
  std::istringstream back(saved.str());
  again.LoadFromStream(back);
  if (again.SaveFormat() != lines.SaveFormat() || !again.Equals(lines)) std::abort();
  return 0;
}
