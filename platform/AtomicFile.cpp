#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

namespace platform {
namespace {

std::atomic<unsigned> tempCounter{0};

}  // namespace

AtomicFile::~AtomicFile() { discard(); }

int AtomicFile::open(const std::filesystem::path& target, unsigned newFileMode) {
  discard();
  target_ = target;
  error_ = 0;
  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  // A name of our own with O_EXCL rather than mkstemp: the file is created
  // with the asked mode and the kernel applies the umask, where mkstemp's
  // 0600 would need the umask read (and briefly changed) for the whole process.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto tick = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    temp_ = dir / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
                   std::to_string(tempCounter.fetch_add(1)) + "-" + std::to_string(tick % 100000));
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode & 07777);
    if (fd_ >= 0) break;
    if (errno != EEXIST) return error_ = errno;
  }
  if (fd_ < 0) return error_ = EEXIST;
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode) && ::fchmod(fd_, old.st_mode & 07777) != 0) {
    error_ = errno;
    discard();
    return error_;
  }
  return 0;
}

int AtomicFile::write(std::span<const std::byte> bytes) {
  if (error_) return error_;
  if (fd_ < 0) return error_ = EBADF;
  const std::byte* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return error_ = errno;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

int AtomicFile::commit() {
  if (error_ || fd_ < 0) {
    const int e = error_ ? error_ : EBADF;
    discard();
    return e;
  }
  int e = 0;
  if (::fsync(fd_) != 0) e = errno;
  if (::close(fd_) != 0 && !e) e = errno;
  fd_ = -1;
  if (!e && ::rename(temp_.c_str(), target_.c_str()) != 0) e = errno;
  if (e) {
    ::unlink(temp_.c_str());
    temp_.clear();
    return e;
  }
  temp_.clear();
  const std::filesystem::path dir = target_.has_parent_path() ? target_.parent_path() : std::filesystem::path(".");
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return errno;
  if (::fsync(dfd) != 0) e = errno;
  ::close(dfd);
  return e;
}

void AtomicFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

int writeFileAtomically(const std::filesystem::path& target, std::span<const std::byte> bytes, unsigned newFileMode) {
  AtomicFile file;
  if (int e = file.open(target, newFileMode)) return e;
  if (int e = file.write(bytes)) return e;
  return file.commit();
}

}  // namespace platform
