#pragma once

// The rows the requirements-list window shows for a resource-requirements
// value: its first alternative list, one row per descriptor. The value's data
// comes straight from a hive, so every size and count is checked against the
// bytes before a descriptor is read.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct ResourceRequirementRow {
  std::string type;     // "Port", "Interrupt", "Memory", "DMA" or "Type " + number
  std::string minimum;  // hex digits: 8 for addresses, 4 for vectors and channels
  std::string maximum;
  std::string length;   // 2 hex digits of the low byte; empty for vectors and channels
  std::string align;
  std::string options;  // "Alternative ", "Preferred ", "Device-exclusive " as they apply
};

// Empty when the data is shorter than the 40-byte header, when the size stored
// in its first four bytes is not its length, or when the first list's
// descriptor count does not say exactly how many 32-byte descriptors follow
// the header (a value with several alternative lists is therefore not shown).
std::vector<ResourceRequirementRow> DecodeResourceRequirementsList(std::span<const std::uint8_t> data);
