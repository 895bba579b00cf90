#pragma once

// What the report reads of the program's loaded files: which file holds an
// address, the nearest symbol below it, and a file's build id. The files are
// ELF images, read from disk through libelf; the address ranges come from the
// module list.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crashreport/zebExcept.h"

namespace zeb {

struct ImageSymbol {
  std::string name;            // as stored (mangled)
  std::uint64_t address = 0;   // in the file's own address space
  std::uint64_t size = 0;
};

// The symbols and build id of one ELF file. A file that cannot be read, or
// that is not ELF, gives an image with nothing in it.
class ElfImage {
public:
  explicit ElfImage(const std::string& path);

  bool IsValid() const { return valid_; }
  // The lowest address a loadable segment asks for (page aligned), which the
  // module's first mapping holds.
  std::uint64_t LoadBase() const { return loadBase_; }
  // Lower-case hexadecimal; empty when the file has none.
  const std::string& BuildId() const { return buildId_; }
  // The function or object symbol at or nearest below `address` (the file's
  // address space); none when no symbol lies at or below it.
  std::optional<ImageSymbol> SymbolAt(std::uint64_t address) const;

private:
  bool valid_ = false;
  std::uint64_t loadBase_ = 0;
  std::string buildId_;
  std::vector<ImageSymbol> symbols_;  // sorted by address
};

// The module of this process that holds `address`; false when none does.
bool ModuleOfAddress(std::uintptr_t address, TModule& module);

// "name+0x1c" for the symbol nearest below a run-time address, demangled when
// `unmangle` is set; empty when the address lies in no module or below every
// symbol of it.
std::string ExportNameOf(std::uintptr_t address, bool unmangle);

}  // namespace zeb
