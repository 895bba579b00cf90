#include "platform/hive/HiveSave.h"

#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace platform::hive {

namespace {

class Fd {
public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) {
      const int saved = errno;
      ::close(fd_);
      errno = saved;
    }
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

private:
  int fd_;
};

// Opens `path` for reading and makes sure it is a regular file (a hive
// named by a folder or a device would otherwise be read without end).
HiveError openRegular(const std::filesystem::path& path, Fd& fd, struct stat& st) {
  fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? HiveError::NotFound : HiveError::IoError;
  if (::fstat(fd.get(), &st) != 0) return HiveError::IoError;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return HiveError::NotAHive;
  }
  return HiveError::None;
}

HiveError readOpened(const Fd& fd, const struct stat& st, ByteBuffer& out) {
  const std::size_t want = static_cast<std::size_t>(st.st_size);
  if (!out.resize(want)) return HiveError::OutOfMemory;
  std::size_t got = 0;
  while (got < want) {
    const ssize_t r = ::read(fd.get(), out.data() + got, want - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return HiveError::IoError;
    }
    if (r == 0) break;  // the file shrank under us: take what is there
    got += static_cast<std::size_t>(r);
  }
  out.resize(got);
  return HiveError::None;
}

}  // namespace

HiveError readWholeFile(const std::filesystem::path& path, ByteBuffer& out) {
  Fd fd(-1);
  struct stat st {};
  if (const HiveError e = openRegular(path, fd, st); e != HiveError::None) return e;
  return readOpened(fd, st, out);
}

HiveError mapWholeFile(const std::filesystem::path& path, ByteBuffer& out, bool writable) {
  Fd fd(-1);
  struct stat st {};
  if (const HiveError e = openRegular(path, fd, st); e != HiveError::None) return e;
  if (st.st_size > 0) {
    // Pages of a writable mapping are not populated up front: that would
    // copy every one of them, as reading the file would.
    void* p = writable ? ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_PRIVATE,
                                fd.get(), 0)
                       : ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE,
                                fd.get(), 0);
    if (p != MAP_FAILED) {
      out.adoptMapping(p, static_cast<std::size_t>(st.st_size), writable);
      return HiveError::None;
    }
  }
  return readOpened(fd, st, out);
}

HiveError replaceFileAtomically(const std::filesystem::path& target,
                                std::span<const std::span<const std::uint8_t>> parts) {
  AtomicFile file;
  int e = file.open(target);
  for (const auto& part : parts) {
    if (e) break;
    e = file.write(part.data(), part.size());
  }
  if (!e) e = file.commit();
  if (!e) return HiveError::None;
  errno = e;
  return HiveError::IoError;
}

}  // namespace platform::hive
