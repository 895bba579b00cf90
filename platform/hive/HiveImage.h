#pragma once

// The bytes of one hive (base block + hive bins) and the cell layer over them:
// which offsets are allocated cells, bounds-checked access to a cell's payload,
// and the allocator that reuses free cells and appends bins.
//
// Cells are addressed by their offset from the start of the bins. A pointer
// into the image is only good until the next alloc(): the buffer may move.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "platform/hive/HiveBytes.h"

namespace platform::hive {

// A growable byte buffer that does not zero what it is handed (a hive is read
// straight into it, so a first fill would only cost time).
class ByteBuffer {
public:
  ByteBuffer() = default;
  ByteBuffer(ByteBuffer&&) noexcept;
  ByteBuffer& operator=(ByteBuffer&&) noexcept;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer();

  std::uint8_t* data() { return p_; }
  const std::uint8_t* data() const { return p_; }
  std::size_t size() const { return n_; }
  // New bytes are left uninitialised. False when out of memory, or when the
  // buffer is a read-only mapping. A writable mapping that has to grow moves
  // to memory of its own.
  bool resize(std::size_t n);
  // Takes over a private file mapping of n bytes (unmapped on destruction):
  // read-only, or writable, where a written page becomes the process's own
  // copy and the file never changes.
  void adoptMapping(void* p, std::size_t n, bool writable = false);
  bool mapped() const { return mapped_; }
  bool writableMapping() const { return mapped_ && writable_; }

private:
  void releaseMemory();

  std::uint8_t* p_ = nullptr;
  std::size_t n_ = 0;
  std::size_t cap_ = 0;
  bool mapped_ = false;
  bool writable_ = false;
};

class HiveImage {
public:
  // What the bin and cell scan found.
  struct ScanResult {
    bool damaged = false;        // a bin or cell had to be skipped, or the bins were cut short
    std::uint32_t binsSize = 0;  // usable bins bytes
  };

  // Takes the file bytes (base block first) and scans the bins. cellHeader is
  // 4, or 8 for format 1.1 (its cells carry a back link).
  ScanResult load(ByteBuffer bytes, std::uint32_t declaredBinsSize, unsigned cellHeader);

  const std::uint8_t* base() const { return buf_.data(); }
  std::uint8_t* base() { return buf_.data(); }
  std::uint32_t binsSize() const { return binsSize_; }
  unsigned cellHeader() const { return cellHeader_; }
  std::size_t bytes() const { return kBase + binsSize_; }

  // True when off is the start of an allocated cell: one the scan found, or,
  // in the rest of a bin whose walk a bad cell size stopped, an offset whose
  // own size field makes a sound allocated cell there.
  bool isCell(std::uint32_t off) const {
    if (off >= binsSize_ || (off & 7u) != 0) return false;
    if ((bits_[off >> 9] >> ((off >> 3) & 63)) & 1u) return true;
    return !unwalked_.empty() && cellPastBadSize(off);
  }
  // The payload of the allocated cell at off (after its header), or an empty
  // view when off is not an allocated cell start.
  ByteView cell(std::uint32_t off) const {
    if (!isCell(off)) return {};
    const std::uint8_t* p = buf_.data() + kBase + off;
    const std::uint32_t size = 0u - loadU32(p);
    return ByteView(p + cellHeader_, size - cellHeader_);
  }
  // Writable payload of an allocated cell; the caller has checked isCell().
  std::uint8_t* payload(std::uint32_t off) { return buf_.data() + kBase + off + cellHeader_; }
  std::size_t payloadSize(std::uint32_t off) const { return (0u - loadU32(buf_.data() + kBase + off)) - cellHeader_; }

  // Scratch marks, one per cell, for duplicate detection in lists. Every mark
  // set must be cleared by the same caller before it returns.
  bool testAndMark(std::uint32_t off) const {
    std::uint64_t& w = marks_[off >> 9];
    const std::uint64_t bit = std::uint64_t{1} << ((off >> 3) & 63);
    const bool was = (w & bit) != 0;
    w |= bit;
    return was;
  }
  void unmark(std::uint32_t off) const { marks_[off >> 9] &= ~(std::uint64_t{1} << ((off >> 3) & 63)); }

  // ---- allocation (writable images only)
  // Allows alloc()/release(). The free lists are built at the first of
  // them, so an image that is never written is never walked a second time
  // (nor its pages written).
  void enableAllocation();
  // A zero-filled cell with at least payloadSize bytes, or kNoCell when the
  // hive would grow past what 32-bit offsets address (or memory runs out).
  std::uint32_t alloc(std::size_t payloadSize, std::uint64_t binTime);
  // Cells of the given payload sizes back to back, in ascending order (big
  // data segments: some readers expect them in file order). Fills `out`;
  // false (nothing allocated) when the hive cannot grow.
  bool allocRun(std::span<const std::size_t> payloadSizes, std::uint64_t binTime, std::vector<std::uint32_t>& out);
  // Frees an allocated cell (its bytes are wiped) and merges it with free
  // neighbours in the same bin. Ignores offsets that are not allocated cells.
  void release(std::uint32_t off);
  // Bytes in free cells (for tests and diagnostics).
  std::size_t freeBytes();

  static constexpr std::size_t kBase = 4096;

private:
  bool cellPastBadSize(std::uint32_t off) const;
  void setBit(std::uint32_t off, bool on) {
    const std::uint64_t bit = std::uint64_t{1} << ((off >> 3) & 63);
    if (on)
      bits_[off >> 9] |= bit;
    else
      bits_[off >> 9] &= ~bit;
  }
  // Builds the free lists when allocation is allowed and they are not yet
  // built; false when allocation is not allowed.
  bool readyToAllocate() {
    if (allocating_) return true;
    if (!mayAllocate_) return false;
    buildFreeLists();
    return true;
  }
  void buildFreeLists();
  void addFree(std::uint32_t off, std::uint32_t size);
  void removeFree(std::uint32_t off, std::uint32_t size);
  std::uint32_t binEndOf(std::uint32_t off) const;
  bool appendBin(std::size_t minCell, std::uint64_t binTime);

  ByteBuffer buf_;
  std::uint32_t binsSize_ = 0;
  unsigned cellHeader_ = 4;
  std::vector<std::uint64_t> bits_;           // allocated cell starts, one bit per 8 bytes
  mutable std::vector<std::uint64_t> marks_;  // scratch, same shape
  std::vector<std::uint32_t> binStarts_;      // sorted
  // Where a bin's walk stopped at a bad cell size: [from, bin end), sorted.
  // A damaged image only; it is never written.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> unwalked_;
  bool mayAllocate_ = false;
  bool allocating_ = false;  // the free lists are built
  std::map<std::uint32_t, std::uint32_t> free_;             // offset -> size
  std::set<std::pair<std::uint32_t, std::uint32_t>> bySize_;  // (size, offset)
};

}  // namespace platform::hive
