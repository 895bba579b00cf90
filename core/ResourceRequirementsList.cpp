#include "core/ResourceRequirementsList.h"

#include "core/kxStrings.h"
#include "platform/hive/HiveBytes.h"

namespace {

constexpr std::size_t kHeaderSize = 40;
constexpr std::size_t kDescriptorSize = 32;

// Descriptor fields, from the descriptor's start.
constexpr std::size_t kOption = 0, kType = 1, kShareDisposition = 2;
constexpr std::size_t kLength = 8, kAlignment = 12, kMinimumAddress = 16, kMaximumAddress = 24;
constexpr std::size_t kMinimumVector = 8, kMaximumVector = 12;

constexpr std::uint8_t kOptionPreferred = 0x01, kOptionAlternative = 0x08;
constexpr std::uint8_t kShareDeviceExclusive = 1;

std::string typeName(std::uint8_t type) {
  switch (type & 0x0F) {
    case 1: return "Port";
    case 2: return "Interrupt";
    case 3: return "Memory";
    case 4: return "DMA";
    default: return "Type " + std::to_string(type);
  }
}

}  // namespace

std::vector<ResourceRequirementRow> DecodeResourceRequirementsList(std::span<const std::uint8_t> data) {
  const platform::hive::ByteView bytes(data);
  const std::size_t length = bytes.size();
  if (length < kHeaderSize) return {};
  if (bytes.u32(0) != length) return {};
  const std::uint32_t count = bytes.u32(36);
  if (count != (length - kHeaderSize) / kDescriptorSize) return {};

  std::vector<ResourceRequirementRow> rows;
  rows.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const platform::hive::ByteView d(bytes.sub(kHeaderSize + i * kDescriptorSize, kDescriptorSize));
    if (d.size() != kDescriptorSize) break;  // cannot happen after the count check; never read past it
    ResourceRequirementRow row;
    const std::uint8_t type = d.u8(kType);
    row.type = typeName(type);
    if (type == 2 || type == 4) {
      row.minimum = WordToHex(static_cast<std::uint16_t>(d.u32(kMinimumVector)));
      row.maximum = WordToHex(static_cast<std::uint16_t>(d.u32(kMaximumVector)));
    } else {
      row.minimum = DWordToHex(static_cast<std::uint32_t>(d.u64(kMinimumAddress)));
      row.maximum = DWordToHex(static_cast<std::uint32_t>(d.u64(kMaximumAddress)));
      row.length = ByteToHex(static_cast<std::uint8_t>(d.u32(kLength)));
      row.align = ByteToHex(static_cast<std::uint8_t>(d.u32(kAlignment)));
    }
    const std::uint8_t option = d.u8(kOption);
    if (option & kOptionAlternative) row.options += "Alternative ";
    if (option & kOptionPreferred) row.options += "Preferred ";
    if (d.u8(kShareDisposition) == kShareDeviceExclusive) row.options += "Device-exclusive ";
    rows.push_back(std::move(row));
  }
  return rows;
}
