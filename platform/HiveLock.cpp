#include "platform/HiveLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>

#include "platform/AtomicFile.h"

namespace platform::registry {

namespace {

constexpr off_t kUseByte = 0;
constexpr off_t kWriteByte = 1;
constexpr off_t kGateByte = 2;

// A process that finds the lock file removed under it opens the new one; a
// few rounds are plenty unless something keeps replacing the file.
constexpr int kReopenAttempts = 64;

std::string hexHash(const std::string& text) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

bool setLock(int fd, short type, off_t start, off_t length, bool wait) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EINTR) continue;
    return false;
  }
}

int openLockFile(const std::filesystem::path& file) {
  // No link is followed: a planted link must not make us create or lock
  // some other file.
  return ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// Whether fd is still the file at path (a closing process may have removed
// it after we opened it).
bool stillLinked(int fd, const std::filesystem::path& path) {
  struct stat byFd {}, byName {};
  if (::fstat(fd, &byFd) != 0 || ::lstat(path.c_str(), &byName) != 0) return false;
  return byFd.st_nlink > 0 && byFd.st_dev == byName.st_dev && byFd.st_ino == byName.st_ino;
}

}  // namespace

std::filesystem::path fallbackLockFolder() {
  // Not $TMPDIR nor $XDG_RUNTIME_DIR: two processes of one user must find the
  // same folder whatever their environment.
  const std::filesystem::path folder = std::filesystem::path("/tmp") / ("hivescope-locks-" + std::to_string(::geteuid()));
  return usePrivateFolder(folder) == 0 ? folder : std::filesystem::path();
}

HiveLock::~HiveLock() { close(); }

bool HiveLock::open(const std::filesystem::path& hivePath) {
  close();
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::canonical(hivePath, ec);
  if (ec) return false;
  file_ = canonical.parent_path() / ("." + canonical.filename().string() + ".lock");
  fd_ = openLockFile(file_);
  if (fd_ >= 0) return true;
  const std::filesystem::path folder = fallbackLockFolder();
  if (folder.empty()) {
    file_.clear();
    return false;
  }
  file_ = folder / (hexHash(canonical.string()) + ".lock");
  fd_ = openLockFile(file_);
  if (fd_ < 0) {
    file_.clear();
    return false;
  }
  return true;
}

bool HiveLock::reopen() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = openLockFile(file_);
  return fd_ >= 0;
}

bool HiveLock::lockUse(short type) {
  if (fd_ < 0) return false;
  for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
    // The gate keeps a closing process from removing the file between our
    // check that it is still the one at its name and our lock on it.
    if (!setLock(fd_, F_RDLCK, kGateByte, 1, true)) return false;
    if (!stillLinked(fd_, file_)) {
      if (!reopen()) return false;
      continue;
    }
    const bool locked = setLock(fd_, type, kUseByte, 1, false);
    setLock(fd_, F_UNLCK, kGateByte, 1, false);
    return locked;
  }
  return false;
}

bool HiveLock::lockUseShared() { return lockUse(F_RDLCK); }
bool HiveLock::lockUseExclusive() { return lockUse(F_WRLCK); }
void HiveLock::unlockUse() {
  if (fd_ >= 0) setLock(fd_, F_UNLCK, kUseByte, 1, false);
}

bool HiveLock::lockWrite() { return fd_ >= 0 && setLock(fd_, F_WRLCK, kWriteByte, 1, true); }
void HiveLock::unlockWrite() {
  if (fd_ >= 0) setLock(fd_, F_UNLCK, kWriteByte, 1, false);
}

void HiveLock::close() {
  if (fd_ >= 0) {
    setLock(fd_, F_UNLCK, kUseByte, 2, false);
    // The last one out removes the file: nobody may use or write the hive,
    // nor be taking the use range, and the file must still be ours to remove.
    if (setLock(fd_, F_WRLCK, kGateByte, 1, false) && setLock(fd_, F_WRLCK, kUseByte, 2, false) &&
        stillLinked(fd_, file_))
      ::unlink(file_.c_str());
    ::close(fd_);
  }
  fd_ = -1;
  file_.clear();
}

}  // namespace platform::registry
