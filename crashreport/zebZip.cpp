#include "crashreport/zebZip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>
#include <memory>
#include <new>

namespace zeb {

namespace {

enum class StreamFailure { None, Read, Write, Data };

struct StreamResult {
  std::uint64_t length = 0;
  StreamFailure failure = StreamFailure::None;
};

bool readAt(int fd, std::uint8_t* data, std::size_t size, std::uint64_t position) {
  while (size > 0) {
    const ssize_t got = ::pread(fd, data, size, off_t(position));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= std::size_t(got);
    position += std::uint64_t(got);
  }
  return true;
}

bool writeAt(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t position) {
  while (size > 0) {
    const ssize_t put = ::pwrite(fd, data, size, off_t(position));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= std::size_t(put);
    position += std::uint64_t(put);
  }
  return true;
}

// Hands out the input in windows of at most kDataWindow bytes: views into a
// buffer, or reads of a file into one window-sized buffer.
class InputWindows {
public:
  InputWindows(const DataSource& source, std::uint64_t start, std::uint64_t length)
      : source_(source), position_(start), remaining_(length) {}

  bool exhausted() const { return remaining_ == 0; }

  // The next window; false on a failed read or a buffer too short.
  bool next(const std::uint8_t*& data, std::size_t& size) {
    size = std::size_t(std::min<std::uint64_t>(remaining_, kDataWindow));
    if (source_.fd >= 0) {
      // A small file gets a buffer of its own size, not a whole window.
      if (!buffer_) buffer_.reset(new (std::nothrow) std::uint8_t[std::max<std::size_t>(size, 1)]);
      if (!buffer_ || !readAt(source_.fd, buffer_.get(), size, position_)) return false;
      data = buffer_.get();
    } else {
      if (position_ > source_.bytes.size() || size > source_.bytes.size() - position_) return false;
      data = source_.bytes.data() + position_;
    }
    position_ += size;
    remaining_ -= size;
    return true;
  }

private:
  const DataSource& source_;
  std::uint64_t position_;
  std::uint64_t remaining_;
  std::unique_ptr<std::uint8_t[]> buffer_;
};

// Takes the output in windows: straight into a buffer, or through one
// window-sized buffer written to a file whenever it fills.
class OutputWindows {
public:
  OutputWindows(const DataSink& sink, std::uint64_t start, std::uint64_t capacity)
      : sink_(sink), start_(start), capacity_(capacity) {
    if (sink_.fd < 0) {
      const std::uint64_t room = start_ > sink_.bytes.size() ? 0 : sink_.bytes.size() - start_;
      capacity_ = std::min(capacity_, room);
    }
  }

  std::uint64_t written() const { return written_; }
  std::uint64_t room() const { return capacity_ - written_ - pending_; }

  // Where the next bytes go, at most `limit` of them; false when out of memory.
  bool window(std::uint8_t*& data, std::size_t& size, std::uint64_t limit) {
    if (sink_.fd >= 0) {
      if (!buffer_) {
        bufferSize_ = std::size_t(std::clamp<std::uint64_t>(capacity_, 1, kDataWindow));
        buffer_.reset(new (std::nothrow) std::uint8_t[bufferSize_]);
      }
      if (!buffer_) return false;
      data = buffer_.get() + pending_;
      size = std::size_t(std::min<std::uint64_t>({bufferSize_ - pending_, room(), limit}));
    } else {
      data = sink_.bytes.data() + start_ + written_;
      size = std::size_t(std::min<std::uint64_t>({kDataWindow, room(), limit}));
    }
    return true;
  }

  // `size` bytes of the last window were filled; a full file window is written.
  bool produced(std::size_t size) {
    if (sink_.fd < 0) {
      written_ += size;
      return true;
    }
    pending_ += size;
    return pending_ < bufferSize_ || flush();
  }

  bool flush() {
    if (sink_.fd < 0 || pending_ == 0) return true;
    if (!writeAt(sink_.fd, buffer_.get(), pending_, start_ + written_)) return false;
    written_ += pending_;
    pending_ = 0;
    return true;
  }

private:
  const DataSink& sink_;
  std::uint64_t start_;
  std::uint64_t capacity_;
  std::uint64_t written_ = 0;
  std::size_t pending_ = 0;
  std::size_t bufferSize_ = 0;
  std::unique_ptr<std::uint8_t[]> buffer_;
};

StreamResult deflateStream(const DataSource& source, std::uint64_t sourceLength, const DataSink& destination,
                           std::uint64_t capacity, std::uint64_t offset, std::uint32_t* crc) {
  z_stream z{};
  // Level 2 with a raw stream (negative window bits): no zlib header or trailer.
  if (deflateInit2(&z, 2, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {0, StreamFailure::Data};
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, deflateEnd);
  InputWindows in(source, 0, sourceLength);
  // Deflate never needs more than DeflateCapacity, so a file destination's
  // buffer for a small input stays small.
  OutputWindows out(destination, offset, std::min<std::uint64_t>(capacity, DeflateCapacity(std::size_t(sourceLength))));
  std::uint32_t reg = 0xFFFFFFFF;
  for (;;) {
    if (z.avail_in == 0 && !in.exhausted()) {
      const std::uint8_t* data = nullptr;
      std::size_t size = 0;
      if (!in.next(data, size)) return {0, StreamFailure::Read};
      reg = Crc32Update(reg, {data, size});
      z.next_in = const_cast<Bytef*>(data);
      z.avail_in = uInt(size);
    }
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    if (!out.window(data, size, kDataWindow)) return {0, StreamFailure::Data};
    if (size == 0) return {0, StreamFailure::Data};  // the destination is full
    z.next_out = data;
    z.avail_out = uInt(size);
    const int flush = in.exhausted() ? Z_FINISH : Z_NO_FLUSH;
    const int rc = deflate(&z, flush);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return {0, StreamFailure::Data};
    if (!out.produced(size - z.avail_out)) return {0, StreamFailure::Write};
    if (rc == Z_STREAM_END) break;
  }
  if (!out.flush()) return {0, StreamFailure::Write};
  if (crc) *crc = ~reg;
  return {out.written(), StreamFailure::None};
}

StreamResult inflateStream(const DataSource& source, std::uint64_t sourceLength, const DataSink& destination,
                           std::uint64_t expected, std::uint64_t offset, std::uint32_t* crc) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return {0, StreamFailure::Data};
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
  InputWindows in(source, offset, sourceLength);
  OutputWindows out(destination, 0, expected);
  if (out.room() < expected) return {0, StreamFailure::Data};
  std::uint32_t reg = 0xFFFFFFFF;
  std::uint64_t produced = 0;
  for (;;) {
    if (z.avail_in == 0 && !in.exhausted()) {
      const std::uint8_t* data = nullptr;
      std::size_t size = 0;
      if (!in.next(data, size)) return {0, StreamFailure::Read};
      z.next_in = const_cast<Bytef*>(data);
      z.avail_in = uInt(size);
    }
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::uint8_t spare = 0;
    if (!out.window(data, size, expected - produced)) return {0, StreamFailure::Data};
    if (size == 0) {
      // Everything expected is there: the stream may still close its last
      // block, but any further byte means the data is longer than announced.
      data = &spare;
      size = 1;
    }
    z.next_out = data;
    z.avail_out = uInt(size);
    const int rc = inflate(&z, Z_NO_FLUSH);
    const std::size_t got = size - z.avail_out;
    if (data == &spare) {
      if (got != 0) return {0, StreamFailure::Data};
    } else {
      reg = Crc32Update(reg, {data, got});
      produced += got;
      if (!out.produced(got)) return {0, StreamFailure::Write};
    }
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR && z.avail_in == 0 && in.exhausted()) return {0, StreamFailure::Data};  // cut short
    if (rc != Z_OK && rc != Z_BUF_ERROR) return {0, StreamFailure::Data};
  }
  if (z.avail_in != 0 || !in.exhausted() || produced != expected) return {0, StreamFailure::Data};
  if (!out.flush()) return {0, StreamFailure::Write};
  if (crc) *crc = ~reg;
  return {produced, StreamFailure::None};
}

std::uint32_t readLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

class LeWriter {
public:
  void u16(std::uint32_t v) {
    bytes.push_back(std::uint8_t(v));
    bytes.push_back(std::uint8_t(v >> 8));
  }
  void u32(std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
  void text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
  std::vector<std::uint8_t> bytes;
};

struct Member {
  std::string name;
  std::uint32_t time = 0;  // MS-DOS time in the low half, date in the high half
  std::uint32_t crc = 0;
  std::uint32_t compressed = 0;
  std::uint32_t size = 0;
  std::uint32_t attributes = 0;
  std::uint32_t offset = 0;
};

// The local header's fields from "version needed" through "name length": the
// central directory repeats them.
void putSharedFields(LeWriter& w, const Member& m) {
  w.u16(20);  // version needed: deflate
  w.u16(0);   // flags
  w.u16(8);   // method: deflate
  w.u32(m.time);
  w.u32(m.crc);
  w.u32(m.compressed);
  w.u32(m.size);
  w.u16(std::uint32_t(m.name.size()));
}

std::uint32_t dosTime(std::time_t when) {
  std::tm t{};
  if (!::localtime_r(&when, &t) || t.tm_year < 80) return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00
  if (t.tm_year > 207) return (127u << 9 | 12u << 5 | 31u) << 16 | (23u << 11 | 59u << 5 | 29u);  // 2107-12-31 23:59:58
  const std::uint32_t time = std::uint32_t(t.tm_hour) << 11 | std::uint32_t(t.tm_min) << 5 | std::uint32_t(t.tm_sec / 2);
  const std::uint32_t date =
      std::uint32_t(t.tm_year - 80) << 9 | std::uint32_t(t.tm_mon + 1) << 5 | std::uint32_t(t.tm_mday);
  return date << 16 | time;
}

std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

constexpr std::uint64_t kZipLimit = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kMaxMembers = 65535;

enum class MemberOutcome { Written, LeftOut, ArchiveFailed };

// Appends one member at `end`: the data is deflated straight from the file
// into the archive behind room for the header, which is written last, when
// its CRC and sizes are known.
MemberOutcome appendMember(int archive, std::uint64_t& end, std::uint64_t directorySize, const std::string& path,
                           const std::string& name, Member& member) {
  if (name.size() > 0xFFFF) return MemberOutcome::LeftOut;
  Fd file;
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st{};
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return MemberOutcome::LeftOut;
  const std::uint64_t size = std::uint64_t(st.st_size);
  if (size > kZipLimit) return MemberOutcome::LeftOut;
  member.name = name;
  member.time = dosTime(st.st_mtime);
  member.size = std::uint32_t(size);
  member.attributes = 0x20;  // archive
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) member.attributes |= 0x01;  // read-only
  member.offset = std::uint32_t(end);
  const std::uint64_t dataStart = end + 30 + name.size();
  // The whole archive has to stay addressable by 32-bit offsets and sizes.
  const std::uint64_t tail = directorySize + 46 + name.size() + 22;
  if (dataStart + tail > kZipLimit) return MemberOutcome::LeftOut;
  std::uint32_t crc = 0;
  const StreamResult r = deflateStream(DataSource{{}, file.fd}, size, DataSink{{}, archive},
                                       kZipLimit - dataStart - tail, dataStart, &crc);
  if (r.failure == StreamFailure::Write) return MemberOutcome::ArchiveFailed;
  if (r.failure != StreamFailure::None) {
    // Unreadable, or too large once compressed: drop what was written of it.
    return ::ftruncate(archive, off_t(end)) == 0 ? MemberOutcome::LeftOut : MemberOutcome::ArchiveFailed;
  }
  member.crc = crc;
  member.compressed = std::uint32_t(r.length);
  LeWriter w;
  w.u32(0x04034B50);
  putSharedFields(w, member);
  w.u16(0);  // extra length
  w.text(name);
  if (!writeAt(archive, w.bytes.data(), w.bytes.size(), end)) return MemberOutcome::ArchiveFailed;
  end = dataStart + r.length;
  return MemberOutcome::Written;
}

bool writeDirectory(int archive, std::uint64_t end, const std::vector<Member>& members) {
  LeWriter w;
  for (const Member& m : members) {
    w.u32(0x02014B50);
    w.u16(20);  // made by: MS-DOS attributes, version 2.0
    putSharedFields(w, m);
    w.u16(0);  // extra length
    w.u16(0);  // comment length
    w.u16(0);  // disk number
    w.u16(0);  // internal attributes
    w.u32(m.attributes);
    w.u32(m.offset);
    w.text(m.name);
  }
  const std::size_t directorySize = w.bytes.size();
  w.u32(0x06054B50);
  w.u16(0);
  w.u16(0);
  w.u16(std::uint32_t(members.size()));
  w.u16(std::uint32_t(members.size()));
  w.u32(std::uint32_t(directorySize));
  w.u32(std::uint32_t(end));
  w.u16(0);  // comment length
  return writeAt(archive, w.bytes.data(), w.bytes.size(), end);
}

}  // namespace

std::size_t DeflateCapacity(std::size_t sourceLength) {
  if (sourceLength > (std::numeric_limits<std::size_t>::max() - 12) / 11) return std::numeric_limits<std::size_t>::max();
  return sourceLength * 11 / 10 + 12;
}

std::size_t DeflateBuffer(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination) {
  return std::size_t(deflateStream(DataSource{source}, source.size(), DataSink{destination}, destination.size(), 0,
                                   nullptr)
                         .length);
}

std::size_t InflateBuffer(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination) {
  return std::size_t(
      inflateStream(DataSource{source}, source.size(), DataSink{destination}, destination.size(), 0, nullptr)
          .length);
}

std::uint64_t DeflateData(const DataSource& source, std::uint64_t sourceLength, const DataSink& destination,
                          std::uint64_t destinationCapacity, std::uint64_t offset, std::uint32_t* crc) {
  return deflateStream(source, sourceLength, destination, destinationCapacity, offset, crc).length;
}

std::uint64_t InflateData(const DataSource& source, std::uint64_t sourceLength, const DataSink& destination,
                          std::uint64_t expectedLength, std::uint64_t offset, std::uint32_t* crc) {
  return inflateStream(source, sourceLength, destination, expectedLength, offset, crc).length;
}

std::string UnpackString(std::span<const std::uint8_t> packed) {
  if (packed.size() < 13) return {};
  const std::uint32_t length = readLe32(packed.data());
  const std::uint32_t crc = readLe32(packed.data() + 8);
  if (length > kUnpackLimit) return {};
  // Deflate expands at most 1032 times (258 bytes from two bits), so a
  // length the data cannot reach is refused before it is allocated.
  if (length / 1032 > packed.size() - 12 + 1) return {};
  std::string text;
  try {
    text.resize(length);
  } catch (const std::bad_alloc&) {
    return {};
  }
  const std::size_t got =
      InflateBuffer(packed.subspan(12), {reinterpret_cast<std::uint8_t*>(text.data()), text.size()});
  text.resize(got);
  const std::uint32_t actual =
      ~Crc32Update(0xFFFFFFFF, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  if (actual != crc) return {};
  return text;
}

std::uint32_t Crc32Update(std::uint32_t reg, std::span<const std::uint8_t> data) {
  // zlib inverts on the way in and out; the register form undoes both.
  return ~std::uint32_t(crc32_z(~reg & 0xFFFFFFFFu, data.data(), data.size()));
}

bool WriteZipArchive(const std::string& archivePath, const std::vector<std::string>& filePaths,
                     const std::vector<std::string>& memberNames) {
  Fd archive;
  archive.fd = ::open(archivePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (archive.fd < 0) return false;
  std::vector<Member> members;
  std::uint64_t end = 0;
  std::uint64_t directorySize = 0;
  bool ok = true;
  for (std::size_t i = 0; i < filePaths.size() && members.size() < kMaxMembers; ++i) {
    const std::string& given = i < memberNames.size() ? memberNames[i] : std::string();
    const std::string name = given.empty() ? baseName(filePaths[i]) : given;
    Member member;
    const MemberOutcome outcome = appendMember(archive.fd, end, directorySize, filePaths[i], name, member);
    if (outcome == MemberOutcome::ArchiveFailed) {
      ok = false;
      break;
    }
    if (outcome == MemberOutcome::Written) {
      directorySize += 46 + member.name.size();
      members.push_back(std::move(member));
    }
  }
  ok = ok && !members.empty() && writeDirectory(archive.fd, end, members);
  const int fd = archive.fd;
  archive.fd = -1;
  if (::close(fd) != 0) ok = false;
  if (!ok) ::unlink(archivePath.c_str());
  return ok;
}

}  // namespace zeb
