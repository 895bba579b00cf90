#include "platform/hive/HiveLog.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/hive/HiveFormat.h"

namespace platform::hive {

namespace {

inline std::uint32_t rotl(std::uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

inline void marvinMix(std::uint32_t& lo, std::uint32_t& hi) {
  hi ^= lo;
  lo = rotl(lo, 20);
  lo += hi;
  hi = rotl(hi, 9);
  hi ^= lo;
  lo = rotl(lo, 27);
  lo += hi;
  hi = rotl(hi, 19);
}

// Logs are laid out in 512-byte sectors whatever the disk (the clustering
// factor of old logs may make the first sector larger).
constexpr std::size_t kSector = 512;
constexpr std::size_t kBase = kBaseBlockSize;
// Stable cells live below 2 GiB: the top bit of a cell index marks volatile
// storage, so no real hive's bins grow past this.
constexpr std::uint32_t kMaxBinsSize = 0x80000000u - kBinAlign;
// The base block's Flags field; only its lowest bit travels in log entries.
constexpr std::size_t kBaseFlags = 144;
// When the hive was last reorganized (zero when it never was).
constexpr std::size_t kBaseReorganized = 168;

bool hasSig(const std::uint8_t* p, const char* s) { return std::memcmp(p, s, 4) == 0; }

std::size_t roundUp(std::size_t v, std::size_t unit) { return (v + unit - 1) / unit * unit; }

// The base block copy at the start of a log. Valid when signature and checksum
// hold and both sequence numbers agree (a writer that died while writing the
// log leaves them apart).
struct LogBase {
  bool valid = false;
  std::uint32_t sequence = 0;
  std::uint32_t type = 0;  // 1 or 2: old format; 6: new format
  std::uint32_t binsSize = 0;
  std::uint32_t cluster = 0;
  std::uint64_t time = 0;
};

LogBase readLogBase(std::span<const std::uint8_t> log) {
  LogBase b;
  if (log.size() < kSector) return b;
  const std::uint8_t* p = log.data();
  if (!hasSig(p, "regf") || baseBlockChecksum(p) != loadU32(p + bb::Checksum)) return b;
  const std::uint32_t s1 = loadU32(p + bb::Sequence1);
  if (s1 != loadU32(p + bb::Sequence2)) return b;
  b.type = loadU32(p + bb::Type);
  if (b.type != 1 && b.type != 2 && b.type != 6) return b;
  b.sequence = s1;
  b.binsSize = loadU32(p + bb::BinsSize);
  b.cluster = loadU32(p + bb::Cluster);
  b.time = loadU64(p + bb::Time);
  b.valid = true;
  return b;
}

// A new-format entry whose hashes and bounds all held.
struct Entry {
  std::size_t size = 0;
  std::uint32_t flags = 0, sequence = 0, binsSize = 0, pageCount = 0;
};

// Where an old-format log keeps its dirty vector and pages.
struct OldLog {
  std::size_t bitmap = 0;      // offset of the bitmap (after "DIRT")
  std::size_t pagesStart = 0;  // offset of the first dirty page
  std::size_t sector = kSector;
};

// A run of contiguous dirty pages of an old-format log.
struct Run {
  std::size_t firstPage = 0, pages = 0, dataOff = 0;
};

class Replayer {
public:
  Replayer(ByteBuffer& hive, std::span<const std::span<const std::uint8_t>> logs, LogReplayInfo& info)
      : hive_(hive), logs_(logs), info_(info) {}

  void run() {
    if (hive_.size() < kBase || hive_.mapped()) return;
    bool any = false;
    std::size_t total = hive_.size();
    for (const auto& l : logs_) {
      any = any || !l.empty();
      total += l.size();
    }
    if (!any) return;
    info_.attempted = true;
    // Every byte of a recovered hive comes from the primary or a log, so a
    // bins size past both together is a lie (and would only cost memory).
    limit_ = static_cast<std::uint32_t>(std::min<std::size_t>(kMaxBinsSize, roundUp(total, kBinAlign)));
    readPrimary();
    if (!newFormat()) oldFormat();
  }

private:
  void readPrimary() {
    const std::uint8_t* p = hive_.data();
    primaryRegf_ = hasSig(p, "regf");
    primaryValid_ = primaryRegf_ && baseBlockChecksum(p) == loadU32(p + bb::Checksum);
    seq1_ = loadU32(p + bb::Sequence1);
    seq2_ = loadU32(p + bb::Sequence2);
    // A log older than the primary's last completed write holds nothing the
    // primary lacks; applying it would roll pages back. A bad base block
    // whose signature survived most likely kept its sequence numbers too (a
    // write torn elsewhere in the block), and they are the only guard against
    // stale logs then: a hive we saved, with the logs Windows left beside it,
    // whose base block later breaks. Only a garbled block goes without.
    staleBelow_ = primaryRegf_ ? seq2_ : 0;
    primaryTime_ = loadU64(p + bb::Time);
    if (hive_.size() >= kBase + kBinHeaderSize && hasSig(p + kBase, "hbin")) {
      firstBinTime_ = loadU64(p + kBase + 20);
      hasFirstBin_ = true;
    }
    bins_ = highWater_ = hive_.size() - kBase;
  }

  // ---- the image

  // Sets the bins to n bytes: cut, or grown with zeros as the file would be.
  // Bytes cut off and grown back read as zeros too, but are zeroed lazily,
  // block by block when a page lands there or at the end: entries that
  // shrink and grow the hive by turns must not cost a full wipe each.
  bool setBins(std::uint32_t n) {
    if (n > highWater_) {
      if (!hive_.resize(kBase + n)) return false;
      std::memset(hive_.data() + kBase + highWater_, 0, n - highWater_);
      highWater_ = n;
      cut_.resize((highWater_ + kBinAlign - 1) / kBinAlign, false);
    }
    if (n < bins_) {
      const std::size_t end = std::min((bins_ + kBinAlign - 1) / kBinAlign, cut_.size());
      for (std::size_t i = n / kBinAlign; i < end; ++i) cut_[i] = true;
    }
    bins_ = n;
    return true;
  }

  void clearCut(std::size_t block) {
    if (block < cut_.size() && cut_[block]) {
      std::memset(hive_.data() + kBase + block * kBinAlign, 0,
                  std::min<std::size_t>(kBinAlign, highWater_ - block * kBinAlign));
      cut_[block] = false;
    }
  }

  // Copies len bytes into the bins at `at`; the caller checked the range
  // against bins_.
  void writeBins(std::size_t at, const std::uint8_t* src, std::size_t len) {
    if (len == 0) return;
    for (std::size_t i = at / kBinAlign; i <= (at + len - 1) / kBinAlign; ++i) clearCut(i);
    std::memcpy(hive_.data() + kBase + at, src, len);
  }

  // Zeroes what is still cut and drops what lies past the bins.
  void settleImage() {
    for (std::size_t i = 0; i < cut_.size() && i * kBinAlign < bins_; ++i) clearCut(i);
    (void)hive_.resize(kBase + bins_);  // shrinking never fails
  }

  void markDirty(std::size_t off, std::size_t len) {
    if (len == 0) return;
    const std::size_t last = (off + len - 1) / kBinAlign;
    if (dirty_.size() <= last) dirty_.resize(last + 1, false);
    for (std::size_t i = off / kBinAlign; i <= last; ++i) dirty_[i] = true;
  }
  bool isDirty(std::size_t off) const { return off / kBinAlign < dirty_.size() && dirty_[off / kBinAlign]; }

  // The primary's base block was bad: the log's copy (the first `len` bytes
  // of the base block, taken from memory when the log was written) stands in.
  void recoverBaseBlock(std::span<const std::uint8_t> log, std::size_t len) {
    len = std::min({len, kBase, log.size()});
    std::uint8_t* b = hive_.data();
    std::memcpy(b, log.data(), len);
    std::memset(b + len, 0, kBase - len);
    storeU32(b + bb::Type, 0);  // a primary file again
    info_.baseBlockRecovered = true;
  }

  void finish(std::uint32_t sequence) {
    settleImage();
    std::uint8_t* b = hive_.data();
    storeU32(b + bb::Sequence1, sequence);
    storeU32(b + bb::Sequence2, sequence);
    storeU32(b + bb::BinsSize, static_cast<std::uint32_t>(bins_));
    storeU32(b + bb::Checksum, baseBlockChecksum(b));
    info_.replayed = !info_.incomplete;
  }

  static bool binHeaderOk(const std::uint8_t* h, std::size_t at, std::size_t bins) {
    const std::uint32_t size = loadU32(h + 8);
    return hasSig(h, "hbin") && loadU32(h + 4) == at && size >= kBinAlign && size % kBinAlign == 0 &&
           size <= bins - at;
  }

  // ---- new format

  bool parseEntry(std::span<const std::uint8_t> log, std::size_t off, Entry& e) const {
    const std::size_t n = log.size();
    if (off > n || n - off < le::Pages) return false;
    const std::uint8_t* p = log.data() + off;
    if (!hasSig(p, "HvLE")) return false;
    const std::uint32_t size = loadU32(p + le::Size);
    if (size < le::Pages || size % kSector != 0 || size > n - off) return false;
    e.size = size;
    e.flags = loadU32(p + le::Flags);
    e.sequence = loadU32(p + le::Sequence);
    e.binsSize = loadU32(p + le::BinsSize);
    e.pageCount = loadU32(p + le::PageCount);
    if (e.binsSize == 0 || e.binsSize % kBinAlign != 0 || e.binsSize > limit_) return false;
    if (marvin32(kLogEntrySeed, std::span<const std::uint8_t>(p + le::Pages, size - le::Pages)) !=
        loadU64(p + le::Hash1))
      return false;
    if (marvin32(kLogEntrySeed, std::span<const std::uint8_t>(p, 32)) != loadU64(p + le::Hash2)) return false;
    // The hashes only say the entry is the one that was written; its
    // references are still checked against what it declares.
    if (e.pageCount > (size - le::Pages) / 8) return false;
    std::size_t data = le::Pages + 8 * std::size_t{e.pageCount};
    for (std::uint32_t i = 0; i < e.pageCount; ++i) {
      const std::uint32_t at = loadU32(p + le::Pages + 8 * i);
      const std::uint32_t len = loadU32(p + le::Pages + 8 * i + 4);
      if (at > e.binsSize || len > e.binsSize - at) return false;
      if (len > size - data) return false;
      data += len;
    }
    return true;
  }

  // The bins are already e.binsSize long.
  void applyEntry(std::span<const std::uint8_t> log, std::size_t off, const Entry& e) {
    const std::uint8_t* p = log.data() + off;
    std::size_t data = le::Pages + 8 * std::size_t{e.pageCount};
    for (std::uint32_t i = 0; i < e.pageCount; ++i) {
      const std::uint32_t at = loadU32(p + le::Pages + 8 * i);
      const std::uint32_t len = loadU32(p + le::Pages + 8 * i + 4);
      writeBins(at, p + data, len);
      markDirty(at, len);
      data += len;
      ++info_.pages;
    }
    std::uint8_t* flags = hive_.data() + kBaseFlags;
    storeU32(flags, (loadU32(flags) & ~1u) | (e.flags & 1u));
  }

  // A bin the entries wrote that is not a sound bin becomes an empty one, so
  // the bins after it stay reachable; an unsound bin the logs never touched is
  // the primary's own damage and is left for the bin scan to report.
  void replaceBadDirtyBins() {
    std::size_t at = 0;
    while (at < bins_ && bins_ - at >= kBinAlign) {
      std::uint8_t* h = hive_.data() + kBase + at;
      if (binHeaderOk(h, at, bins_)) {
        at += loadU32(h + 8);
        continue;
      }
      if (!isDirty(at)) break;
      writeEmptyBin(h, static_cast<std::uint32_t>(at), kBinAlign);
      ++info_.dummyBins;
      info_.incomplete = true;
      at += kBinAlign;
    }
  }

  bool newFormat() {
    struct Candidate {
      std::size_t index;
      LogBase base;
    };
    std::vector<Candidate> logs;
    for (std::size_t i = 0; i < logs_.size(); ++i) {
      const LogBase b = readLogBase(logs_[i]);
      if (b.valid && b.type == 6) logs.push_back({i, b});
    }
    if (logs.empty()) return false;
    // This is what keeps the logs of a hive we saved from being replayed onto
    // it again.
    std::erase_if(logs, [&](const Candidate& c) { return c.base.sequence < staleBelow_; });
    // Logs put beside a hive they were not written for: their base block
    // copy names another file, or another reorganization.
    if (primaryValid_) std::erase_if(logs, [&](const Candidate& c) { return !sameHive(logs_[c.index]); });
    if (logs.empty()) return false;
    if (primaryValid_) {
      // The writer swaps logs, so either may hold the earlier entries.
      std::stable_sort(logs.begin(), logs.end(),
                       [](const Candidate& a, const Candidate& b) { return a.base.sequence < b.base.sequence; });
    } else {
      // With no base block to say where the primary stands, only the log with
      // the latest entries is used, and its base block replaces the bad one.
      auto latest = std::max_element(logs.begin(), logs.end(), [](const Candidate& a, const Candidate& b) {
        return a.base.sequence < b.base.sequence;
      });
      const Candidate keep = *latest;
      logs.assign(1, keep);
    }
    std::optional<std::uint32_t> expected;
    for (const Candidate& c : logs) {
      const std::span<const std::uint8_t> log = logs_[c.index];
      bool used = false;
      // Every entry is at least one sector long, so this ends within the log.
      for (std::size_t off = kSector;;) {
        Entry e;
        if (!parseEntry(log, off, e)) break;  // the end, a torn write or an old entry
        // The first entry carries the log's own sequence number; every later
        // one, in this log or the next, the one after the last applied.
        if (e.sequence != (expected ? *expected : c.base.sequence)) break;
        // Out of memory: what was applied so far is consistent, keep it.
        if (!setBins(e.binsSize)) return finishNew();
        if (!primaryValid_ && !info_.baseBlockRecovered) recoverBaseBlock(log, kSector);
        applyEntry(log, off, e);
        if (info_.entries++ == 0) info_.firstSequence = e.sequence;
        info_.lastSequence = e.sequence;
        expected = e.sequence + 1;
        used = true;
        off += e.size;
      }
      if (used) info_.logsUsed.push_back(c.index);
      // Nothing usable in an earlier log: a later one would build on changes
      // the image never got.
      if (!expected) break;
    }
    // An entry that failed its hashes with sound later entries behind it is
    // a write lost from the middle: what was applied is not the latest state.
    // So is a log begun at or after the next sequence number whose entries
    // could not be used (cut short, torn): it held writes the image lacks.
    if (expected)
      for (const Candidate& c : logs)
        if (c.base.sequence >= *expected || hasEntryFrom(logs_[c.index], *expected)) info_.incomplete = true;
    return finishNew();
  }

  // True when the log's base block copy describes the primary: the same
  // embedded file name, and the same last reorganization where the primary
  // records one.
  bool sameHive(std::span<const std::uint8_t> log) const {
    const std::uint8_t* p = hive_.data();
    const std::uint8_t* l = log.data();
    if (std::memcmp(p + bb::FileName, l + bb::FileName, bb::FileNameSize) != 0) return false;
    const std::uint64_t reorganized = loadU64(p + kBaseReorganized);
    return reorganized == 0 || loadU64(l + kBaseReorganized) == reorganized;
  }

  // A sound entry anywhere in the log numbered `sequence` or later.
  bool hasEntryFrom(std::span<const std::uint8_t> log, std::uint32_t sequence) const {
    for (std::size_t off = kSector; off < log.size() && log.size() - off >= le::Pages; off += kSector) {
      if (!hasSig(log.data() + off, "HvLE")) continue;
      Entry e;
      if (parseEntry(log, off, e) && e.sequence >= sequence) return true;
    }
    return false;
  }

  bool finishNew() {
    if (info_.entries == 0) return false;
    info_.newFormat = true;
    settleImage();
    replaceBadDirtyBins();
    finish(info_.lastSequence);
    return true;
  }

  // ---- old format

  bool parseOld(std::span<const std::uint8_t> log, const LogBase& b, OldLog& o) const {
    if (!b.valid || (b.type != 1 && b.type != 2)) return false;
    if (b.binsSize == 0 || b.binsSize % kBinAlign != 0 || b.binsSize > limit_) return false;
    const std::size_t bitmapBytes = b.binsSize / kSector / 8;
    // The dirty vector starts at the second sector; the clustering factor
    // gives the sector size of the disk the log was written on.
    std::size_t sectors[2] = {kSector, kSector};
    if (b.cluster >= 1 && b.cluster <= 8) sectors[0] = kSector * b.cluster;
    for (std::size_t sector : sectors) {
      if (log.size() < sector || log.size() - sector < 4 + bitmapBytes) continue;
      if (!hasSig(log.data() + sector, "DIRT")) continue;
      o.sector = sector;
      o.bitmap = sector + 4;
      o.pagesStart = roundUp(sector + 4 + bitmapBytes, sector);
      return true;
    }
    return false;
  }

  bool oldFormat() {
    const std::size_t n = logs_.size();
    std::vector<LogBase> bases(n);
    std::vector<OldLog> layouts(n);
    std::vector<bool> ok(n, false);
    for (std::size_t i = 0; i < n; ++i) {
      bases[i] = readLogBase(logs_[i]);
      ok[i] = parseOld(logs_[i], bases[i], layouts[i]);
    }
    auto fresh = [&](std::size_t i) { return ok[i] && bases[i].sequence >= staleBelow_; };
    // A log belongs to this primary when its timestamp is the primary's. With
    // a bad base block the first bin keeps a copy of that timestamp, though a
    // write that died inside the base block leaves an older one there while
    // the torn block may still hold the right time: either will do, as a
    // 64-bit time does not match by chance.
    auto matches = [&](std::size_t i) {
      const std::uint64_t t = bases[i].time;
      if (primaryValid_) return t == primaryTime_;
      return (primaryRegf_ && t == primaryTime_) || (hasFirstBin_ && t == firstBinTime_);
    };
    std::optional<std::size_t> chosen;
    if (n > 0 && fresh(0) && matches(0)) {
      chosen = 0;
    } else if (n > 1 && fresh(1) && (!ok[0] || bases[1].time > bases[0].time)) {
      // The second log holds the cumulative dirty data of failed writes: it is
      // taken when the first cannot be applied and it is the more recent one.
      chosen = 1;
    } else {
      for (std::size_t i = 2; i < n && !chosen; ++i)
        if (fresh(i) && matches(i)) chosen = i;
    }
    if (!chosen) return false;
    return applyOld(*chosen, bases[*chosen], layouts[*chosen]);
  }

  bool applyOld(std::size_t index, const LogBase& b, const OldLog& o) {
    const std::span<const std::uint8_t> log = logs_[index];
    const std::uint8_t* bitmap = log.data() + o.bitmap;
    const std::size_t bits = b.binsSize / kSector;
    auto bit = [&](std::size_t i) { return (bitmap[i >> 3] >> (i & 7)) & 1u; };

    // Where the primary has bins (walking its chain while it holds): a dirty
    // copy of such a place must be a bin at the same offset too.
    const std::size_t oldBins = bins_;
    std::vector<bool> primaryBin(oldBins / kBinAlign + 1, false);
    for (std::size_t at = 0; oldBins - at >= kBinAlign;) {
      const std::uint8_t* h = hive_.data() + kBase + at;
      if (!binHeaderOk(h, at, oldBins)) break;
      primaryBin[at / kBinAlign] = true;
      at += loadU32(h + 8);
    }

    // Contiguous dirty pages are checked as a whole before any is written; the
    // first run that is cut short or holds an invalid bin ends the recovery.
    std::vector<Run> runs;
    bool stopped = false;
    std::size_t taken = 0;  // dirty pages before the current run
    for (std::size_t i = 0; i < bits && !stopped;) {
      if ((i & 7) == 0 && bitmap[i >> 3] == 0) {
        i += 8;
        continue;
      }
      if (!bit(i)) {
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < bits && bit(j)) ++j;
      Run r{i, j - i, o.pagesStart + taken * kSector};
      taken += j - i;
      if (r.dataOff > log.size() || r.pages * kSector > log.size() - r.dataOff) {
        stopped = true;
        break;
      }
      for (std::size_t at = roundUp(i * kSector, kBinAlign); at < j * kSector; at += kBinAlign) {
        const std::uint8_t* d = log.data() + r.dataOff + (at - i * kSector);
        const bool expectBin = hasSig(d, "hbin") || (at < oldBins && primaryBin[at / kBinAlign]);
        if (expectBin && !binHeaderOk(d, at, b.binsSize)) {
          stopped = true;
          break;
        }
      }
      if (stopped) break;
      runs.push_back(r);
      i = j;
    }
    if (runs.empty() && stopped) return false;  // nothing could be applied: the hive stays as it was

    if (!setBins(b.binsSize)) return false;
    if (!primaryValid_) recoverBaseBlock(log, o.sector);
    for (const Run& r : runs) {
      writeBins(r.firstPage * kSector, log.data() + r.dataOff, r.pages * kSector);
      info_.pages += static_cast<std::uint32_t>(r.pages);
    }
    info_.entries = 1;
    info_.firstSequence = info_.lastSequence = b.sequence;
    info_.logsUsed.push_back(index);
    info_.incomplete = stopped;
    finish(primaryValid_ ? std::max({seq1_, seq2_, b.sequence}) : b.sequence);
    return true;
  }

  ByteBuffer& hive_;
  std::span<const std::span<const std::uint8_t>> logs_;
  LogReplayInfo& info_;
  std::uint32_t limit_ = 0;
  bool primaryRegf_ = false;
  bool primaryValid_ = false;
  std::uint32_t seq1_ = 0, seq2_ = 0;
  std::uint32_t staleBelow_ = 0;  // logs whose sequence is below this are stale
  std::uint64_t primaryTime_ = 0;
  bool hasFirstBin_ = false;
  std::uint64_t firstBinTime_ = 0;
  std::size_t bins_ = 0;       // bins bytes as the entries applied so far say
  std::size_t highWater_ = 0;  // bins bytes the buffer holds, all initialised
  std::vector<bool> cut_;      // 4096-byte blocks cut off since, to read as zeros
  std::vector<bool> dirty_;  // 4096-byte blocks written by new-format entries
};

}  // namespace

std::uint64_t marvin32(std::uint64_t seed, std::span<const std::uint8_t> data) {
  std::uint32_t lo = static_cast<std::uint32_t>(seed);
  std::uint32_t hi = static_cast<std::uint32_t>(seed >> 32);
  const std::uint8_t* p = data.data();
  std::size_t n = data.size();
  for (; n >= 4; p += 4, n -= 4) {
    lo += loadU32(p);
    marvinMix(lo, hi);
  }
  // The 0-3 bytes left, with a 0x80 byte after them.
  std::uint32_t last = 0x80;
  switch (n) {
    case 3:
      last = (last << 8) | p[2];
      [[fallthrough]];
    case 2:
      last = (last << 8) | p[1];
      [[fallthrough]];
    case 1:
      last = (last << 8) | p[0];
      break;
    default:
      break;
  }
  lo += last;
  marvinMix(lo, hi);
  marvinMix(lo, hi);
  return (static_cast<std::uint64_t>(hi) << 32) | lo;
}

bool needsRecovery(std::span<const std::uint8_t> primary) {
  if (primary.size() < kBase) return false;
  const std::uint8_t* p = primary.data();
  if (!hasSig(p, "regf")) return primary.size() >= kBase + kBinHeaderSize && hasSig(p + kBase, "hbin");
  return baseBlockChecksum(p) != loadU32(p + bb::Checksum) ||
         loadU32(p + bb::Sequence1) != loadU32(p + bb::Sequence2);
}

LogReplayInfo replayLogs(ByteBuffer& hive, std::span<const std::span<const std::uint8_t>> logs) {
  LogReplayInfo info;
  Replayer(hive, logs, info).run();
  return info;
}

}  // namespace platform::hive
