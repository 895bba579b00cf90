#include "platform/HiveLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace platform::registry {

namespace {

constexpr off_t kUseByte = 0;
constexpr off_t kWriteByte = 1;

std::filesystem::path lockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::filesystem::path base = (runtime && *runtime) ? std::filesystem::path(runtime)
                                                     : std::filesystem::temp_directory_path();
  return base / ("hivescope-locks-" + std::to_string(::getuid()));
}

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

bool setLock(int fd, short type, off_t start, bool wait) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = 1;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EINTR) continue;
    return false;
  }
}

}  // namespace

HiveLock::~HiveLock() { close(); }

bool HiveLock::open(const std::filesystem::path& hivePath) {
  close();
  std::error_code ec;
  std::filesystem::path canonical = std::filesystem::canonical(hivePath, ec);
  if (ec) return false;
  std::filesystem::path folder = lockFolder();
  std::filesystem::create_directories(folder, ec);
  ::chmod(folder.c_str(), 0700);
  // The name hashes the path; the path itself is written inside for whoever
  // looks at the folder.
  std::filesystem::path file = folder / (hexHash(canonical.string()) + ".lock");
  fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return false;
  struct stat st = {};
  if (::fstat(fd_, &st) == 0 && st.st_size == 0) {
    std::string line = canonical.string() + "\n";
    ssize_t n = ::pwrite(fd_, line.data(), line.size(), 2);
    (void)n;
  }
  return true;
}

bool HiveLock::lockUseShared() { return fd_ >= 0 && setLock(fd_, F_RDLCK, kUseByte, false); }
bool HiveLock::lockUseExclusive() { return fd_ >= 0 && setLock(fd_, F_WRLCK, kUseByte, false); }
void HiveLock::unlockUse() {
  if (fd_ >= 0) setLock(fd_, F_UNLCK, kUseByte, false);
}

bool HiveLock::lockWrite() { return fd_ >= 0 && setLock(fd_, F_WRLCK, kWriteByte, true); }
void HiveLock::unlockWrite() {
  if (fd_ >= 0) setLock(fd_, F_UNLCK, kWriteByte, false);
}

void HiveLock::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace platform::registry
