// Feeds arbitrary bytes to the text layer's readers: the UTF-7 decoder must
// raise its error or give a text that encodes and decodes back to itself, and
// a wide string list loaded from the bytes (whatever mark they start with)
// must save and load back to the same lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "unicode/UniClasses.h"
#include "unicode/UniSystem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const std::u16string text = uni::UTF7ToWide(bytes);
    if (uni::UTF7ToWide(uni::WideToUTF7(text)) != text) std::abort();
  } catch (const EUniGeneralError&) {
  }

  uni::TUniMemoryStream in{std::string(bytes)};
  uni::TUniStringList list;
  list.LoadFromStream(in);
  uni::TUniMemoryStream saved;
  list.SaveToStream(saved);
  saved.SetPosition(0);
  uni::TUniStringList again;
  again.LoadFromStream(saved);
  if (again.Count() != list.Count()) std::abort();
  for (int i = 0; i < list.Count(); ++i)
    if (again.Strings(i) != list.Strings(i)) std::abort();
  return 0;
}
