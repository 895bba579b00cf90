#include "crashreport/zebExceptChecksum.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace zeb {

namespace {

template <class T>
bool ReadAt(std::span<const std::uint8_t> file, std::size_t offset, T& value) {
  if (offset > file.size() || sizeof(T) > file.size() - offset) return false;
  std::memcpy(&value, file.data() + offset, sizeof(T));
  return true;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = bool(in);
  if (!ok) return {};
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ok = !in.bad();
  return bytes;
}

}  // namespace

std::uint16_t ComputeImageChecksum(std::span<const std::uint8_t> bytes, std::uint32_t running) {
  std::uint32_t sum = running & 0xFFFF;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    sum += std::uint32_t(bytes[i]) | (std::uint32_t(bytes[i + 1]) << 8);
    if (sum >= 0x10000) sum = (sum >> 16) + (sum & 0xFFFF);
  }
  if (i < bytes.size()) {
    sum += bytes[i];
    if (sum >= 0x10000) sum = (sum >> 16) + (sum & 0xFFFF);
  }
  return std::uint16_t(sum);
}

std::uint32_t FileChecksum(std::span<const std::uint8_t> file, std::size_t slotOffset) {
  std::uint32_t sum = 0;
  if (slotOffset <= file.size()) {
    sum = ComputeImageChecksum(file.first(slotOffset), 0);
    const std::size_t after = std::min(file.size(), slotOffset + 4);
    sum = ComputeImageChecksum(file.subspan(after), sum);
  } else {
    sum = ComputeImageChecksum(file, 0);
  }
  const std::uint16_t folded = std::uint16_t(sum + (sum >> 16));
  return std::uint32_t(folded) + std::uint32_t(file.size());
}

std::optional<FileSection> FindFileSection(std::span<const std::uint8_t> file, std::string_view name) {
  Elf64_Ehdr header;
  if (!ReadAt(file, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr))
    return std::nullopt;
  Elf64_Shdr names;
  if (header.e_shstrndx >= header.e_shnum ||
      !ReadAt(file, std::size_t(header.e_shoff) + std::size_t(header.e_shstrndx) * sizeof(Elf64_Shdr), names) ||
      names.sh_offset > file.size() || names.sh_size > file.size() - names.sh_offset)
    return std::nullopt;
  const std::span<const std::uint8_t> table = file.subspan(std::size_t(names.sh_offset), std::size_t(names.sh_size));
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr section;
    if (!ReadAt(file, std::size_t(header.e_shoff) + i * sizeof(Elf64_Shdr), section)) return std::nullopt;
    // The name with its terminating zero must lie inside the name table.
    if (section.sh_name > table.size() || name.size() + 1 > table.size() - section.sh_name) continue;
    if (std::memcmp(table.data() + section.sh_name, name.data(), name.size()) != 0 ||
        table[section.sh_name + name.size()] != 0)
      continue;
    if (section.sh_type == SHT_NOBITS || section.sh_offset > file.size() ||
        section.sh_size > file.size() - section.sh_offset)
      return std::nullopt;
    return FileSection{std::size_t(section.sh_offset), std::size_t(section.sh_size)};
  }
  return std::nullopt;
}

std::optional<std::size_t> ChecksumSlotOffset(std::span<const std::uint8_t> file) {
  const std::optional<FileSection> section = FindFileSection(file, kChecksumSection);
  if (!section || section->size < 4) return std::nullopt;
  return section->offset;
}

ChecksumResult VerifyFileChecksum(const std::string& path) {
  bool ok = false;
  const std::vector<std::uint8_t> file = ReadWholeFile(path, ok);
  if (!ok) return ChecksumResult::Unreadable;
  const std::optional<std::size_t> slot = ChecksumSlotOffset(file);
  if (!slot) return ChecksumResult::Unreadable;
  std::uint32_t stamped = 0;
  std::memcpy(&stamped, file.data() + *slot, 4);
  if (stamped == 0) return ChecksumResult::Unstamped;
  return FileChecksum(file, *slot) == stamped ? ChecksumResult::Valid : ChecksumResult::Mismatch;
}

bool StampFileChecksum(const std::string& path, std::string* error) {
  bool ok = false;
  const std::vector<std::uint8_t> file = ReadWholeFile(path, ok);
  if (!ok) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  const std::optional<std::size_t> slot = ChecksumSlotOffset(file);
  if (!slot) {
    if (error) *error = path + " has no " + kChecksumSection + " section";
    return false;
  }
  const std::uint32_t sum = FileChecksum(file, *slot);
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(std::streamoff(*slot));
  out.write(reinterpret_cast<const char*>(&sum), 4);
  out.flush();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace zeb
