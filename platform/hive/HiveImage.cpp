#include "platform/hive/HiveImage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include "platform/hive/HiveFormat.h"

namespace platform::hive {

ByteBuffer::ByteBuffer(ByteBuffer&& o) noexcept
    : p_(o.p_), n_(o.n_), cap_(o.cap_), mapped_(o.mapped_), writable_(o.writable_) {
  o.p_ = nullptr;
  o.n_ = o.cap_ = 0;
  o.mapped_ = o.writable_ = false;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& o) noexcept {
  if (this != &o) {
    releaseMemory();
    p_ = o.p_;
    n_ = o.n_;
    cap_ = o.cap_;
    mapped_ = o.mapped_;
    writable_ = o.writable_;
    o.p_ = nullptr;
    o.n_ = o.cap_ = 0;
    o.mapped_ = o.writable_ = false;
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { releaseMemory(); }

void ByteBuffer::releaseMemory() {
  if (mapped_) {
    if (p_) ::munmap(p_, cap_);
  } else {
    std::free(p_);
  }
  p_ = nullptr;
  n_ = cap_ = 0;
  mapped_ = writable_ = false;
}

void ByteBuffer::adoptMapping(void* p, std::size_t n, bool writable) {
  releaseMemory();
  p_ = static_cast<std::uint8_t*>(p);
  n_ = cap_ = n;
  mapped_ = true;
  writable_ = writable;
}

bool ByteBuffer::resize(std::size_t n) {
  if (mapped_ && n <= cap_) {
    n_ = n;
    return true;
  }
  if (mapped_) {
    if (!writable_) return false;
    // A writable mapping cannot grow past the file: its bytes move to memory
    // of our own, once, with room to grow.
    const std::size_t cap = std::max(n, cap_ + cap_ / 2);
    auto* p = static_cast<std::uint8_t*>(std::malloc(cap));
    if (!p) return false;
    std::memcpy(p, p_, n_);
    ::munmap(p_, cap_);
    p_ = p;
    cap_ = cap;
    n_ = n;
    mapped_ = writable_ = false;
    return true;
  }
  if (n > cap_) {
    // Grow by half again so appending bins one by one stays linear.
    std::size_t cap = std::max(n, cap_ + cap_ / 2);
    auto* p = static_cast<std::uint8_t*>(std::realloc(p_, cap));
    if (!p) {
      cap = n;
      p = static_cast<std::uint8_t*>(std::realloc(p_, cap));
      if (!p) return false;
    }
    p_ = p;
    cap_ = cap;
  }
  n_ = n;
  return true;
}

namespace {

// A bin header at bins offset `at` with a size in whole pages (the bin may
// still run past the end of a cut file).
bool binHeaderAt(const std::uint8_t* bins, std::size_t at) {
  const std::uint8_t* h = bins + at;
  const std::size_t size = loadU32(h + 8);
  return std::memcmp(h, "hbin", 4) == 0 && size >= kBinAlign && size % kBinAlign == 0;
}

}  // namespace

HiveImage::ScanResult HiveImage::load(ByteBuffer bytes, std::uint32_t declaredBinsSize, unsigned cellHeader) {
  ScanResult r;
  buf_ = std::move(bytes);
  cellHeader_ = cellHeader;
  const std::size_t avail = buf_.size() > kBase ? buf_.size() - kBase : 0;
  // Offsets are 32-bit; never look past what they can address.
  std::size_t end = std::min<std::size_t>(avail, 0xFFFFF000u);
  if (declaredBinsSize != 0 && declaredBinsSize <= end)
    end = declaredBinsSize;
  else
    r.damaged = true;  // missing or past the end of the file
  end &= ~std::size_t{7};
  bits_.assign((end + 511) / 512 + 1, 0);

  const unsigned align = cellHeader == 8 ? 16 : 8;
  std::size_t off = 0;
  while (end - off >= kBinHeaderSize) {
    const std::uint8_t* b = buf_.data() + kBase;
    if (!binHeaderAt(b, off)) {
      // One bad bin must not hide the rest: the bins go on at the next page
      // that holds a bin naming that very offset (a page of stale data rarely
      // does), and an empty bin stands in for the pages between. Past the
      // last bin, the bins end.
      r.damaged = true;
      auto resumesAt = [&](std::size_t at) { return binHeaderAt(b, at) && loadU32(b + at + 4) == at; };
      std::size_t next = off + kBinAlign;
      while (end > next && end - next >= kBinHeaderSize && !resumesAt(next)) next += kBinAlign;
      if (end <= next || end - next < kBinHeaderSize) break;
      if (buf_.mapped() && !buf_.writableMapping()) {
        // The mapping is read-only: the stand-in goes into a private copy.
        ByteBuffer copy;
        if (!copy.resize(buf_.size())) break;
        std::memcpy(copy.data(), buf_.data(), buf_.size());
        buf_ = std::move(copy);
      }
      writeEmptyBin(buf_.data() + kBase + off, static_cast<std::uint32_t>(off), static_cast<std::uint32_t>(next - off));
      binStarts_.push_back(static_cast<std::uint32_t>(off));
      off = next;
      continue;
    }
    if (loadU32(b + off + 4) != off) r.damaged = true;
    std::size_t size = loadU32(b + off + 8);
    if (size > end - off) {  // a bin cut short by the end of the file
      r.damaged = true;
      size = end - off;
    }
    binStarts_.push_back(static_cast<std::uint32_t>(off));
    const std::size_t binEnd = off + size;
    std::size_t c = off + kBinHeaderSize;
    while (binEnd - c >= 4) {
      const std::uint32_t raw = loadU32(b + c);
      const std::int32_t sraw = static_cast<std::int32_t>(raw);
      const std::size_t csize = sraw < 0 ? 0u - raw : raw;
      if (sraw == INT32_MIN || csize < 8 || csize % align != 0 || csize > binEnd - c) {
        // The rest of this bin cannot be walked; a cell there is known only
        // when the tree names it (see isCell()).
        r.damaged = true;
        unwalked_.emplace_back(static_cast<std::uint32_t>(c), static_cast<std::uint32_t>(binEnd));
        break;
      }
      if (sraw < 0) setBit(static_cast<std::uint32_t>(c), true);
      c += csize;
    }
    off = binEnd;
  }
  binsSize_ = static_cast<std::uint32_t>(off);
  if (binsSize_ != end) r.damaged = true;
  marks_.assign(bits_.size(), 0);
  r.binsSize = binsSize_;
  return r;
}

bool HiveImage::cellPastBadSize(std::uint32_t off) const {
  auto it = std::upper_bound(unwalked_.begin(), unwalked_.end(), std::make_pair(off, 0xFFFFFFFFu));
  if (it == unwalked_.begin()) return false;
  --it;
  if (off < it->first || off >= it->second || it->second - off < 8) return false;
  const std::uint32_t raw = loadU32(buf_.data() + kBase + off);
  const std::int32_t sraw = static_cast<std::int32_t>(raw);
  const std::uint32_t size = 0u - raw;
  const unsigned align = cellHeader_ == 8 ? 16 : 8;
  return sraw < 0 && sraw != INT32_MIN && size >= 8 && size >= cellHeader_ && size % align == 0 &&
         size <= it->second - off;
}

void HiveImage::addFree(std::uint32_t off, std::uint32_t size) {
  free_.emplace(off, size);
  bySize_.emplace(size, off);
}

void HiveImage::removeFree(std::uint32_t off, std::uint32_t size) {
  free_.erase(off);
  bySize_.erase({size, off});
}

std::uint32_t HiveImage::binEndOf(std::uint32_t off) const {
  auto it = std::upper_bound(binStarts_.begin(), binStarts_.end(), off);
  return it == binStarts_.end() ? binsSize_ : *it;
}

void HiveImage::enableAllocation() { mayAllocate_ = true; }

void HiveImage::buildFreeLists() {
  if (allocating_) return;
  allocating_ = true;
  free_.clear();
  bySize_.clear();
  const std::uint8_t* b = buf_.data() + kBase;
  for (std::size_t i = 0; i < binStarts_.size(); ++i) {
    const std::uint32_t binEnd = i + 1 < binStarts_.size() ? binStarts_[i + 1] : binsSize_;
    std::uint32_t c = binStarts_[i] + kBinHeaderSize;
    std::uint32_t runStart = 0, runSize = 0;
    while (binEnd - c >= 8) {
      const std::uint32_t raw = loadU32(b + c);
      const std::int32_t sraw = static_cast<std::int32_t>(raw);
      const std::uint32_t csize = sraw < 0 ? 0u - raw : raw;
      if (sraw == INT32_MIN || csize < 8 || csize > binEnd - c) break;
      if (sraw > 0) {
        // Adjacent free cells are merged here, as Windows would have.
        if (runSize == 0) runStart = c;
        runSize += csize;
      } else if (runSize) {
        storeU32(buf_.data() + kBase + runStart, runSize);
        addFree(runStart, runSize);
        runSize = 0;
      }
      c += csize;
    }
    if (runSize) {
      storeU32(buf_.data() + kBase + runStart, runSize);
      addFree(runStart, runSize);
    }
  }
}

bool HiveImage::appendBin(std::size_t minCell, std::uint64_t binTime) {
  const std::size_t need = minCell + kBinHeaderSize;
  const std::size_t size = (need + kBinAlign - 1) / kBinAlign * kBinAlign;
  if (size > 0xFFFFF000u - binsSize_) return false;
  const std::uint32_t off = binsSize_;
  if (!buf_.resize(kBase + off + size)) return false;
  std::uint8_t* h = buf_.data() + kBase + off;
  std::memset(h, 0, size);
  std::memcpy(h, "hbin", 4);
  storeU32(h + 4, off);
  storeU32(h + 8, static_cast<std::uint32_t>(size));
  storeU64(h + 20, binTime);
  binStarts_.push_back(off);
  binsSize_ = static_cast<std::uint32_t>(off + size);
  bits_.resize((binsSize_ + 511) / 512 + 1, 0);
  marks_.resize(bits_.size(), 0);
  const std::uint32_t cellOff = off + kBinHeaderSize;
  const std::uint32_t cellSize = static_cast<std::uint32_t>(size - kBinHeaderSize);
  storeU32(h + kBinHeaderSize, cellSize);
  addFree(cellOff, cellSize);
  return true;
}

std::uint32_t HiveImage::alloc(std::size_t payloadSize, std::uint64_t binTime) {
  if (payloadSize > 0x7FFF0000u || !readyToAllocate()) return kNoCell;
  const std::size_t align = cellHeader_ == 8 ? 16 : 8;
  const std::uint32_t need = static_cast<std::uint32_t>((payloadSize + cellHeader_ + align - 1) / align * align);
  auto it = bySize_.lower_bound({need, 0});
  if (it == bySize_.end()) {
    if (!appendBin(need, binTime)) return kNoCell;
    it = bySize_.lower_bound({need, 0});
    if (it == bySize_.end()) return kNoCell;
  }
  const auto [size, off] = *it;
  removeFree(off, size);
  std::uint8_t* b = buf_.data() + kBase;
  std::uint32_t used = size;
  if (size - need >= 8) {  // split; a remainder under 8 bytes stays as padding
    used = need;
    storeU32(b + off + need, size - need);
    addFree(off + need, size - need);
  }
  storeU32(b + off, 0u - used);
  std::memset(b + off + 4, 0, used - 4);
  setBit(off, true);
  return off;
}

bool HiveImage::allocRun(std::span<const std::size_t> payloadSizes, std::uint64_t binTime,
                         std::vector<std::uint32_t>& out) {
  out.clear();
  if (!readyToAllocate()) return false;
  const std::size_t align = cellHeader_ == 8 ? 16 : 8;
  std::size_t total = 0;
  for (std::size_t p : payloadSizes) {
    if (p > 0x7FFF0000u) return false;
    total += (p + cellHeader_ + align - 1) / align * align;
    if (total > 0xFFFF0000u) return false;
  }
  // One free cell that holds the whole run, else a bin of its own.
  auto it = bySize_.lower_bound({static_cast<std::uint32_t>(total), 0});
  if (it == bySize_.end()) {
    if (!appendBin(total, binTime)) return false;
    it = bySize_.lower_bound({static_cast<std::uint32_t>(total), 0});
    if (it == bySize_.end()) return false;
  }
  const auto [size, off] = *it;
  removeFree(off, size);
  std::uint8_t* b = buf_.data() + kBase;
  std::uint32_t at = off;
  for (std::size_t i = 0; i < payloadSizes.size(); ++i) {
    std::uint32_t cell = static_cast<std::uint32_t>((payloadSizes[i] + cellHeader_ + align - 1) / align * align);
    // The last cell takes a remainder too small to stand as a free cell.
    if (i + 1 == payloadSizes.size() && size - (at - off) - cell < 8) cell = size - (at - off);
    storeU32(b + at, 0u - cell);
    std::memset(b + at + 4, 0, cell - 4);
    setBit(at, true);
    out.push_back(at);
    at += cell;
  }
  if (at - off < size) {
    storeU32(b + at, size - (at - off));
    addFree(at, size - (at - off));
  }
  return true;
}

void HiveImage::release(std::uint32_t off) {
  if (!isCell(off) || !readyToAllocate()) return;
  std::uint8_t* b = buf_.data() + kBase;
  std::uint32_t size = 0u - loadU32(b + off);
  setBit(off, false);
  // Wipe the old contents: deleted values must not linger in the file.
  std::memset(b + off + 4, 0, size - 4);
  const std::uint32_t binEnd = binEndOf(off);
  const std::uint32_t binStart = *(std::upper_bound(binStarts_.begin(), binStarts_.end(), off) - 1);
  std::uint32_t start = off;
  if (off + size < binEnd) {
    auto next = free_.find(off + size);
    if (next != free_.end()) {
      const std::uint32_t nsize = next->second;
      removeFree(next->first, nsize);
      std::memset(b + off + size, 0, 4);
      size += nsize;
    }
  }
  auto prev = free_.lower_bound(off);
  if (prev != free_.begin()) {
    --prev;
    if (prev->first >= binStart && prev->first + prev->second == off) {
      start = prev->first;
      const std::uint32_t psize = prev->second;
      removeFree(start, psize);
      std::memset(b + off, 0, 4);
      size += psize;
    }
  }
  storeU32(b + start, size);
  addFree(start, size);
}

std::size_t HiveImage::freeBytes() {
  readyToAllocate();
  std::size_t n = 0;
  for (const auto& [off, size] : free_) n += size;
  return n;
}

}  // namespace platform::hive
