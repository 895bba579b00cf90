#pragma once

// The text side of the x86-64 decoder: Intel-syntax operands and the listing
// of a whole function that becomes a crash report's "disassembling" section.
// Names of functions, their modules and line numbers come from hooks the
// symbol reader installs; without them the listing names what it can by
// itself ("sub_" + address) and has no line column.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crashreport/zebDisAsm.h"

namespace zeb {

// Numbers as the listing writes them: decimal up to 9, else "$" + hex.
std::string FormatNumber(std::uint64_t v);
std::string FormatSigned(std::int64_t v);
// Addresses as the listing writes them: 16 digits at the start of a line,
// without padding in labels ("loc_" + ShortHex).
std::string Address(std::uint64_t a);
std::string ShortHex(std::uint64_t a);
std::string RegisterName(unsigned r, unsigned size, bool rex);
// A memory operand; size 0 leaves the size keyword out. ripTarget receives
// the address a RIP-relative operand names.
std::string MemoryOperand(const TDisAsmParts& d, std::uint64_t next, unsigned size, std::uint64_t* ripTarget);
std::vector<std::string> FormatOperands(const TDisAsmParts& d, const CodeInfo& info, const std::string& mnemonic,
                                        std::uint64_t* ripTarget = nullptr);
bool PrefixIs66OrNone(const TDisAsmParts& d);

// What the symbol side tells the listing. Every member may be empty.
struct TDisAsmHooks {
  // The name of the function that starts at address ("" when none).
  std::function<std::string(std::uint64_t)> nameOf;
  // The file name of the module holding address, "" for the program's own
  // module or an address in none.
  std::function<std::string(std::uint64_t)> moduleOf;
  // The source line of address, 0 when unknown.
  std::function<unsigned(std::uint64_t)> lineOf;
};

// The hooks the symbol reader installs for the whole program.
TDisAsmHooks& DisAsmHooks();

// Whether the bytes at address read through the guard look like text, and
// the text (up to 100 bytes, to a 0, line feed or form feed).
bool LooksLikeText(std::uint64_t address, const TDATryRead& guard, std::string& text);

// The listing of the function at entry (extent up to extentEnd, 0 = unknown)
// with the instruction at location marked by ">"; lineLimit > 0 keeps that
// many lines on each side of the location. An invalid analysis gives "".
std::string ListFunction(std::uint64_t entry, std::uint64_t extentEnd, const TDATryRead& guard,
                         std::uint64_t location, TFunctionInfo& info, bool autoDelimiters, unsigned lineLimit,
                         const TDisAsmHooks& hooks);

// The disassembler hook the report composition calls; empty until the
// listing is linked in (zebLinkDisAsm), so a program without it has no
// "disassembling" section.
using TDisAsmHook = std::string (*)(std::uint64_t entry, std::uint64_t extentEnd, std::uint64_t location,
                                    bool autoDelimiters, unsigned lineLimit);
extern TDisAsmHook DisAsmHook;
// Installs ListFunction as the disassembler hook; the crash reporter's
// start-up calls it when reports are to carry listings.
void LinkDisAsm();

}  // namespace zeb
