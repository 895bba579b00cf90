#pragma once

// Hand-assembled code for the decoder's tests: a page of memory (filled with
// int3) and an emitter that knows where its bytes will lie, so displacements
// can be computed. Nothing placed here is executed.

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

// A byte buffer that knows where it will lie, for computing displacements.
struct Emitter {
  std::uint8_t* base;
  std::size_t at = 0;
  std::uint64_t Here() const { return reinterpret_cast<std::uint64_t>(base) + at; }
  void Bytes(std::initializer_list<int> bytes) {
    for (int b : bytes) base[at++] = std::uint8_t(b);
  }
  void Rel32To(std::uint64_t target) {  // the displacement ends the instruction
    std::int32_t rel = std::int32_t(std::int64_t(target) - std::int64_t(Here() + 4));
    std::memcpy(base + at, &rel, 4);
    at += 4;
  }
  void U32(std::uint32_t v) {
    std::memcpy(base + at, &v, 4);
    at += 4;
  }
  void U64(std::uint64_t v) {
    std::memcpy(base + at, &v, 8);
    at += 8;
  }
};

struct Page {
  std::uint8_t* p = nullptr;
  std::size_t size = 0;
  explicit Page(int extraFlags = 0, std::size_t bytes = 8192) : size(bytes) {
    void* m = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | extraFlags, -1, 0);
    p = m == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(m);
    if (p) std::memset(p, 0xCC, size);
  }
  ~Page() {
    if (p) munmap(p, size);
  }
  std::uint64_t Address(std::size_t offset = 0) const { return reinterpret_cast<std::uint64_t>(p) + offset; }
};

// cmp edi, 7; ja default; lea rdx, [rip+table]; movsxd rax, [rdx+rdi*4];
// add rax, rdx; jmp rax; eight cases "mov eax, k; ret"; default "xor eax,
// eax; ret". The table of 32-bit offsets from its start lies at 0x400, after
// the function's end, as in read-only data.
struct SwitchFixture {
  std::uint64_t entry = 0, end = 0, table = 0, dflt = 0;
  std::vector<std::uint64_t> cases;
};

inline SwitchFixture BuildRelativeSwitch(Page& page) {
  SwitchFixture fx;
  Emitter e{page.p};
  fx.entry = e.Here();
  fx.table = page.Address(0x400);
  fx.dflt = fx.entry + 21 + 8 * 6;
  e.Bytes({0x83, 0xFF, 0x07});
  e.Bytes({0x77, int(fx.dflt - (e.Here() + 2))});
  e.Bytes({0x48, 0x8D, 0x15});
  e.Rel32To(fx.table);
  e.Bytes({0x48, 0x63, 0x04, 0xBA, 0x48, 0x01, 0xD0, 0xFF, 0xE0});
  for (int k = 0; k < 8; ++k) {
    fx.cases.push_back(e.Here());
    e.Bytes({0xB8, k, 0, 0, 0, 0xC3});
  }
  e.Bytes({0x31, 0xC0, 0xC3});
  fx.end = e.Here();
  e.at = 0x400;
  for (std::uint64_t c : fx.cases) e.U32(std::uint32_t(std::int32_t(c - fx.table)));
  return fx;
}
