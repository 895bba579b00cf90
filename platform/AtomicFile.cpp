#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
namespace {

std::atomic<unsigned> tempCounter{0};

std::filesystem::path folderOf(const std::filesystem::path& target) {
  return target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
}

// The writer's process id from a name of the form `prefix` + "<pid>-<n>-<n>",
// all digits; 0 for any other name (another file's temporary file included:
// its name carries more than digits after our prefix).
long writerOf(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return 0;
  name.remove_prefix(prefix.size());
  long numbers[3] = {};
  const char* p = name.data();
  const char* const end = name.data() + name.size();
  for (int i = 0; i < 3; ++i) {
    if (i > 0 && (p == end || *p++ != '-')) return 0;
    if (p == end || *p < '0' || *p > '9') return 0;
    const auto [next, ec] = std::from_chars(p, end, numbers[i]);
    if (ec != std::errc()) return 0;
    p = next;
  }
  const long pid = numbers[0];
  return p == end && pid > 0 && static_cast<pid_t>(pid) == pid ? pid : 0;
}

}  // namespace

std::string temporaryNamePrefix(const std::filesystem::path& target, long pid) {
  return "." + target.filename().string() + ".tmp" + (pid > 0 ? std::to_string(pid) + "-" : std::string());
}

std::size_t removeStaleTemporaries(const std::filesystem::path& target) {
  const std::string prefix = temporaryNamePrefix(target, 0);
  std::size_t removed = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folderOf(target), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const long pid = writerOf(name, prefix);
    if (pid == 0) continue;
    // Only a plain file: a link or folder of that name is not something we wrote.
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

int checkReplaceable(const std::filesystem::path& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0) return errno;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
  if (::access(target.c_str(), W_OK) != 0) return errno;
  if (::access(folderOf(target).c_str(), W_OK | X_OK) != 0) return errno;
  if (::geteuid() != 0) {
    if (st.st_uid != ::geteuid()) return EPERM;
    if (st.st_gid != ::getegid()) {
      const int n = ::getgroups(0, nullptr);
      std::vector<gid_t> groups(n > 0 ? static_cast<std::size_t>(n) : 0);
      const int got = n > 0 ? ::getgroups(n, groups.data()) : 0;
      if (std::find(groups.begin(), groups.begin() + std::max(got, 0), st.st_gid) == groups.begin() + std::max(got, 0))
        return EPERM;
    }
  }
  return 0;
}

int usePrivateFolder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  // A folder someone else made (or could fill) is not ours to trust: they
  // could read what we put there or plant names we would open.
  if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return EPERM;
  if ((st.st_mode & 07777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) return errno;
  return 0;
}

AtomicFile::~AtomicFile() { discard(); }

int AtomicFile::open(const std::filesystem::path& target, unsigned newFileMode) {
  discard();
  target_ = target;
  error_ = 0;
  const std::filesystem::path dir = folderOf(target);
  const std::string prefix = temporaryNamePrefix(target, ::getpid());
  // A name of our own with O_EXCL rather than mkstemp: the file is created
  // with the asked mode and the kernel applies the umask, where mkstemp's
  // 0600 would need the umask read (and briefly changed) for the whole process.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto tick = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    temp_ = dir / (prefix + std::to_string(tempCounter.fetch_add(1)) + "-" + std::to_string(tick % 100000));
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode & 07777);
    if (fd_ >= 0) break;
    if (errno != EEXIST) return error_ = errno;
  }
  if (fd_ < 0) return error_ = EEXIST;
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    struct stat made {};
    if (::fstat(fd_, &made) != 0) error_ = errno;
    // The owner first: a change of owner clears the set-id bits, which the
    // mode then puts back.
    if (!error_ && (made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
        ::fchown(fd_, old.st_uid, old.st_gid) != 0)
      error_ = errno == EINVAL ? EPERM : errno;
    if (!error_ && ::fchmod(fd_, old.st_mode & 07777) != 0) error_ = errno;
    if (error_) {
      const int e = error_;
      discard();
      return error_ = e;
    }
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

int AtomicFile::commit() { return finish(true); }

int AtomicFile::commitNew() { return finish(false); }

int AtomicFile::finish(bool replace) {
  if (error_ || fd_ < 0) {
    const int e = error_ ? error_ : EBADF;
    discard();
    return e;
  }
  int e = 0;
  if (::fsync(fd_) != 0) e = errno;
  if (::close(fd_) != 0 && !e) e = errno;
  fd_ = -1;
  if (!e) {
    if (replace) {
      if (::rename(temp_.c_str(), target_.c_str()) != 0) e = errno;
    } else {
      // Where the file system cannot rename without replacing, a hard link
      // never replaces what is there either; the temporary name then goes.
      if (::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
        e = errno;
        if (e == EINVAL || e == ENOSYS) {
          e = ::link(temp_.c_str(), target_.c_str()) == 0 ? 0 : errno;
          if (!e) ::unlink(temp_.c_str());
        }
      }
    }
  }
  if (e) {
    ::unlink(temp_.c_str());
    temp_.clear();
    return e;
  }
  temp_.clear();
  const std::filesystem::path dir = folderOf(target_);
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
