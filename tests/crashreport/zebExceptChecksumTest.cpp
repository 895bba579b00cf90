// The program-file checksum: the fold, the slot found through the ELF section
// headers (hostile headers included), and stamping and verifying a file. The
// real program file is checked in crashprobe's tests.

#include "crashreport/zebExceptChecksum.h"

#include <elf.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

using namespace zeb;

namespace {

TEST(ZebExceptChecksum, TheFoldAddsLittleEndianWordsWithEndAroundCarry) {
  const std::vector<std::uint8_t> words = {0x01, 0x00, 0xFF, 0xFF};  // 1 + 0xFFFF folds to 1
  EXPECT_EQ(ComputeImageChecksum(words, 0), 1u);
  const std::vector<std::uint8_t> odd = {0x34, 0x12, 0x05};  // the last byte counts alone
  EXPECT_EQ(ComputeImageChecksum(odd, 0), 0x1239u);
  EXPECT_EQ(ComputeImageChecksum({}, 0x1234), 0x1234u);
}

TEST(ZebExceptChecksum, TheFileChecksumSkipsTheSlotAndAddsTheLength) {
  std::vector<std::uint8_t> file = {0x10, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x20, 0x00};
  EXPECT_EQ(FileChecksum(file, 2), 0x30u + 8u);
  file[3] = 0x00;  // inside the slot: no change
  EXPECT_EQ(FileChecksum(file, 2), 0x30u + 8u);
  file[6] = 0x21;  // outside it
  EXPECT_EQ(FileChecksum(file, 2), 0x31u + 8u);
}

// A small ELF file: the null section, the section-name table and the slot's
// section of `slotSize` bytes.
std::vector<std::uint8_t> ElfWithSlot(std::size_t slotSize) {
  const std::string names = std::string("\0.shstrtab\0", 11) + kChecksumSection + '\0';
  const std::size_t namesAt = sizeof(Elf64_Ehdr);
  std::vector<std::uint8_t> file(namesAt + names.size());
  std::memcpy(file.data() + namesAt, names.data(), names.size());
  while (file.size() % 8) file.push_back(0);
  const std::size_t slotAt = file.size();
  file.resize(file.size() + slotSize, 0);
  while (file.size() % 8) file.push_back(0x5A);
  const std::size_t headersAt = file.size();
  Elf64_Shdr sections[3] = {};
  sections[1].sh_name = 1;
  sections[1].sh_type = SHT_STRTAB;
  sections[1].sh_offset = namesAt;
  sections[1].sh_size = names.size();
  sections[2].sh_name = 11;
  sections[2].sh_type = SHT_PROGBITS;
  sections[2].sh_offset = slotAt;
  sections[2].sh_size = slotSize;
  file.resize(headersAt + sizeof sections);
  std::memcpy(file.data() + headersAt, sections, sizeof sections);
  Elf64_Ehdr header = {};
  std::memcpy(header.e_ident, ELFMAG, SELFMAG);
  header.e_ident[EI_CLASS] = ELFCLASS64;
  header.e_shoff = headersAt;
  header.e_shentsize = sizeof(Elf64_Shdr);
  header.e_shnum = 3;
  header.e_shstrndx = 1;
  std::memcpy(file.data(), &header, sizeof header);
  return file;
}

TEST(ZebExceptChecksum, TheSlotIsFoundThroughTheSectionHeadersAndBadHeadersFindNone) {
  const std::vector<std::uint8_t> good = ElfWithSlot(4);
  const auto slot = ChecksumSlotOffset(good);
  ASSERT_TRUE(slot);
  EXPECT_EQ(*slot % 8, 0u);
  EXPECT_FALSE(ChecksumSlotOffset(ElfWithSlot(3)));

  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> spoil;
  } cases[] = {
      {"not ELF", [](auto& f) { f[1] = 'X'; }},
      {"headers beyond the end", [](auto& f) { reinterpret_cast<Elf64_Ehdr*>(f.data())->e_shoff = f.size(); }},
      {"name table index out of range", [](auto& f) { reinterpret_cast<Elf64_Ehdr*>(f.data())->e_shstrndx = 9; }},
      {"cut short", [](auto& f) { f = std::vector<std::uint8_t>(f.begin(), f.end() - 10); }},
      {"section bytes beyond the end",
       [](auto& f) {
         auto* h = reinterpret_cast<Elf64_Ehdr*>(f.data());
         reinterpret_cast<Elf64_Shdr*>(f.data() + h->e_shoff)[2].sh_offset = ~0ull - 2;
       }},
      {"name beyond its table",
       [](auto& f) {
         auto* h = reinterpret_cast<Elf64_Ehdr*>(f.data());
         reinterpret_cast<Elf64_Shdr*>(f.data() + h->e_shoff)[2].sh_name = 0xFFFFFFF0u;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> file = good;
    c.spoil(file);
    EXPECT_FALSE(ChecksumSlotOffset(file));
  }
}

TEST(ZebExceptChecksum, AStampedFilePassesUntilOneOfItsBytesChanges) {
  testsupport::TempDir dir("zeb-checksum");
  const std::string path = (dir / "program").string();
  std::vector<std::uint8_t> file = ElfWithSlot(4);
  auto write = [&] {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  };
  write();
  EXPECT_EQ(VerifyFileChecksum(path), ChecksumResult::Unstamped);
  ASSERT_TRUE(StampFileChecksum(path));
  EXPECT_EQ(VerifyFileChecksum(path), ChecksumResult::Valid);
  std::ifstream in(path, std::ios::binary);
  file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  file[file.size() - 1] ^= 1;
  write();
  EXPECT_EQ(VerifyFileChecksum(path), ChecksumResult::Mismatch);
  EXPECT_EQ(VerifyFileChecksum((dir / "missing").string()), ChecksumResult::Unreadable);

  const std::string plain = (dir / "plain").string();
  std::ofstream(plain) << "no ELF here";
  std::string error;
  EXPECT_FALSE(StampFileChecksum(plain, &error));
  EXPECT_NE(error.find(".zebcrc"), std::string::npos) << error;
}

}  // namespace
