// Feeds arbitrary bytes to the crash reporter's BMP reader, which loads
// pictures back from an outside editor: it must never crash, and a picture
// that loads must write as BMP and read back to the very same pixels.
#include <cstddef>
#include <cstdint>
#include <span>

#include "crashreport/zebNVBitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const zeb::NVBitmapPtr bitmap = zeb::LoadBmpBytes(std::span<const std::uint8_t>(data, size));
  if (!bitmap) return 0;
  const zeb::NVBitmapPtr again = zeb::LoadBmpBytes(bitmap->ToBmpBytes());
  if (!again || again->PixelWidth() != bitmap->PixelWidth() || again->PixelHeight() != bitmap->PixelHeight())
    __builtin_trap();
  const auto a = bitmap->Pixels(), b = again->Pixels();
  if (a.size() != b.size() || !std::equal(a.begin(), a.end(), b.begin())) __builtin_trap();
  return 0;
}
