#include "platform/hive/HiveSave.h"

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
  // close() reports deferred write errors on some file systems.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

private:
  int fd_;
};

bool writeAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

HiveError readWholeFile(const std::filesystem::path& path, ByteBuffer& out) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? HiveError::NotFound : HiveError::IoError;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return HiveError::IoError;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return HiveError::NotAHive;
  }
  std::size_t want = static_cast<std::size_t>(st.st_size);
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

HiveError mapWholeFile(const std::filesystem::path& path, ByteBuffer& out) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? HiveError::NotFound : HiveError::IoError;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return HiveError::IoError;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return HiveError::NotAHive;
  }
  if (st.st_size > 0) {
    void* p = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd.get(), 0);
    if (p != MAP_FAILED) {
      out.adoptMapping(p, static_cast<std::size_t>(st.st_size));
      return HiveError::None;
    }
  }
  return readWholeFile(path, out);
}

HiveError replaceFileAtomically(const std::filesystem::path& target,
                                std::span<const std::span<const std::uint8_t>> parts) {
  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  std::string tmpl = (dir / ("." + target.filename().string() + ".tmpXXXXXX")).string();
  const int raw = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (raw < 0) return HiveError::IoError;
  Fd fd(raw);
  auto failWith = [&](HiveError e) {
    const int saved = errno;
    ::unlink(tmpl.c_str());
    errno = saved;
    return e;
  };
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) {
    // Keep the permissions of the file being replaced (mkstemp makes 0600).
    if (::fchmod(fd.get(), old.st_mode & 07777) != 0) return failWith(HiveError::IoError);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd.get(), 0666 & ~mask) != 0) return failWith(HiveError::IoError);
  }
  for (const auto& part : parts)
    if (!writeAll(fd.get(), part.data(), part.size())) return failWith(HiveError::IoError);
  if (::fsync(fd.get()) != 0) return failWith(HiveError::IoError);
  if (!fd.close()) return failWith(HiveError::IoError);
  if (::rename(tmpl.c_str(), target.c_str()) != 0) return failWith(HiveError::IoError);
  Fd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // The new file is in place; a folder that cannot be synced is reported, as
  // the rename might not survive a power cut.
  if (dfd.get() < 0 || ::fsync(dfd.get()) != 0) return HiveError::IoError;
  return HiveError::None;
}

}  // namespace platform::hive
