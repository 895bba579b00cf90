#pragma once

// Builds resource-requirements values the way a driver stores them, for the
// decoder's and the window's tests.

#include <cstdint>
#include <vector>

namespace testsupport {

struct RequirementDescriptor {
  std::uint8_t option = 0, type = 0, share = 0;
  std::uint32_t first = 0, second = 0;  // length and alignment, or minimum and maximum vector
  std::uint64_t minimum = 0, maximum = 0;
};

inline void putLE32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// One alternative list holding the descriptors, with the size and the count
// filled in.
inline std::vector<std::uint8_t> requirementsList(const std::vector<RequirementDescriptor>& descriptors) {
  std::vector<std::uint8_t> out(40 + 32 * descriptors.size());
  putLE32(out, 0, static_cast<std::uint32_t>(out.size()));
  putLE32(out, 4, 5);           // interface type (PCI)
  putLE32(out, 28, 1);          // one alternative list
  putLE32(out, 32, 0x00010001);  // version and revision
  putLE32(out, 36, static_cast<std::uint32_t>(descriptors.size()));
  std::size_t at = 40;
  for (const RequirementDescriptor& d : descriptors) {
    out[at] = d.option;
    out[at + 1] = d.type;
    out[at + 2] = d.share;
    putLE32(out, at + 8, d.first);
    putLE32(out, at + 12, d.second);
    putLE32(out, at + 16, static_cast<std::uint32_t>(d.minimum));
    putLE32(out, at + 20, static_cast<std::uint32_t>(d.minimum >> 32));
    putLE32(out, at + 24, static_cast<std::uint32_t>(d.maximum));
    putLE32(out, at + 28, static_cast<std::uint32_t>(d.maximum >> 32));
    at += 32;
  }
  return out;
}

}  // namespace testsupport
