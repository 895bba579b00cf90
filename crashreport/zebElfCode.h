#pragma once

// The code of an ELF file on disk: its function symbols (with their sizes,
// the extents the function analysis works in) and its .text section, with the
// bytes behind them. Used to check the decoder against whole libraries.

#include <cstdint>
#include <string>
#include <vector>

namespace zeb {

struct TElfFunction {
  std::string name;
  std::uint64_t address = 0;  // virtual address as linked
  std::uint64_t size = 0;
  std::uint64_t fileOffset = 0;
};

struct TElfCode {
  bool valid = false;
  std::vector<std::uint8_t> bytes;  // the whole file
  std::uint64_t textAddress = 0, textSize = 0, textOffset = 0;
  // Defined functions of .symtab, or of .dynsym when the file is stripped;
  // sorted by address, duplicates (aliases) removed.
  std::vector<TElfFunction> functions;
};

// Reads a 64-bit little-endian ELF file; valid stays false for anything else
// or any header that points outside the file.
TElfCode ReadElfCode(const std::string& path);

}  // namespace zeb
