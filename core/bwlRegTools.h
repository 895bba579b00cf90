#pragma once

// One-call registry helpers, the names of the root keys, and the conversions
// between value display texts and bytes.

#include <string>
#include <string_view>

#include "core/bwlRegistry.h"

// The same mapping as StrToRegDataType; both exist for different callers.
TRegDataType RegTypeNameToRegDataType(std::string_view name);

// The bytes a display text stands for (the hex dump of the .reg view uses it).
// Hex kinds: "01 02 03" -> 01 02 03, length div 3 + 1 bytes; 32-bit kinds: the
// number as four bytes (big-endian for rdBigEndianInteger); strings and
// rdUnknown: one byte per character; rdNone, rdMultiString, the 64-bit kinds
// and rdCardinal leave `bytes` as passed.
void ValueTextToBytes(std::string_view text, TRegDataType kind, TRegByteArray& bytes);
// The byte count the hex dump shows for a display text. It can be larger than
// what ValueTextToBytes gives (multi-strings and the 64-bit kinds give no bytes).
int ValueTextDataSize(std::string_view text, TRegDataType kind);
