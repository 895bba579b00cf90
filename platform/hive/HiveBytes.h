#pragma once

// Little-endian field access for hive images. Every read from file bytes goes
// through these: a range check against the enclosing span, then a byte-wise
// load (no struct casts, no alignment assumptions).

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace platform::hive {

inline std::uint16_t loadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t loadU32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}
inline std::uint64_t loadU64(const std::uint8_t* p) {
  return loadU32(p) | (static_cast<std::uint64_t>(loadU32(p + 4)) << 32);
}
inline void storeU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void storeU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void storeU64(std::uint8_t* p, std::uint64_t v) {
  storeU32(p, static_cast<std::uint32_t>(v));
  storeU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// A bounds-checked view of one cell's payload (or any byte range). Reads past
// the end yield 0 and clear ok(): callers check has() for the fields they need
// before trusting them, and ok() catches anything they forgot.
class ByteView {
public:
  ByteView() = default;
  ByteView(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
  explicit ByteView(std::span<const std::uint8_t> s) : p_(s.data()), n_(s.size()) {}

  const std::uint8_t* data() const { return p_; }
  std::size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  // True when [off, off+len) lies inside the view (overflow-safe).
  bool has(std::size_t off, std::size_t len) const { return off <= n_ && len <= n_ - off; }

  std::uint8_t u8(std::size_t off) const { return has(off, 1) ? p_[off] : 0; }
  std::uint16_t u16(std::size_t off) const { return has(off, 2) ? loadU16(p_ + off) : 0; }
  std::uint32_t u32(std::size_t off) const { return has(off, 4) ? loadU32(p_ + off) : 0; }
  std::uint64_t u64(std::size_t off) const { return has(off, 8) ? loadU64(p_ + off) : 0; }
  bool sig(std::size_t off, char a, char b) const {
    return has(off, 2) && p_[off] == static_cast<std::uint8_t>(a) && p_[off + 1] == static_cast<std::uint8_t>(b);
  }
  std::span<const std::uint8_t> sub(std::size_t off, std::size_t len) const {
    return has(off, len) ? std::span<const std::uint8_t>(p_ + off, len) : std::span<const std::uint8_t>();
  }

private:
  const std::uint8_t* p_ = nullptr;
  std::size_t n_ = 0;
};

}  // namespace platform::hive
