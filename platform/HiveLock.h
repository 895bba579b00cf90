#pragma once

// The lock that keeps processes apart on one hive file.
//
// Hive files are saved by writing a new file and renaming it over the old one,
// so a lock on the hive file itself would be lost with its inode at the first
// save. The lock lives instead on a small file beside the hive, "." + its
// name + ".lock", so every process that reaches the hive finds the same lock
// whatever its environment. When the hive's folder is not ours to write (a
// read-only disk), nobody here can save the hive either; the lock file then
// goes to the per-user folder /tmp/hivescope-locks-<uid>, named after the
// hive's canonical path, which keeps this user's processes apart. Three byte
// ranges of it:
//  - "use": held shared by every process that has the hive in its default
//    registry, exclusive by a process that mounted it with RegLoadKey, so a
//    mount fails while anyone else uses the file;
//  - "write": held exclusive for the short time a process reloads, merges and
//    saves the hive, so two writers never interleave;
//  - "gate": held shared while a process opens the file and takes its use
//    range, exclusive while the last user removes the file at close, so a
//    process never takes a lock on a file that is being removed.
// Open-file-description locks: they belong to this object, not the process,
// so two stores in one process also exclude each other.

#include <filesystem>

namespace platform::registry {

class HiveLock {
public:
  HiveLock() = default;
  ~HiveLock();
  HiveLock(const HiveLock&) = delete;
  HiveLock& operator=(const HiveLock&) = delete;

  // Chooses the lock file for the hive at path (which must exist) and opens
  // it. False when no lock file can be made.
  bool open(const std::filesystem::path& hivePath);
  bool isOpen() const { return fd_ >= 0; }
  // The lock file in use (empty before open).
  const std::filesystem::path& file() const { return file_; }

  // Non-blocking. False when another holder is in the way.
  bool lockUseShared();
  bool lockUseExclusive();
  void unlockUse();

  // Waits for the range; false only when the lock cannot be taken at all.
  bool lockWrite();
  void unlockWrite();

  // Releases everything; the lock file is removed when no other process
  // holds or is taking a lock on it.
  void close();

private:
  bool lockUse(short type);
  bool reopen();

  std::filesystem::path file_;
  int fd_ = -1;
};

// The per-user folder for the lock files of hives whose own folder is not
// writable: made 0700 when missing; empty when it exists but is not a folder
// of this user's that only they can use (another user could otherwise take
// the locks away or plant files there).
std::filesystem::path fallbackLockFolder();

// RAII for the write range.
class HiveWriteGuard {
public:
  explicit HiveWriteGuard(HiveLock& lock) : lock_(lock), held_(lock.isOpen() && lock.lockWrite()) {}
  ~HiveWriteGuard() {
    if (held_) lock_.unlockWrite();
  }
  HiveWriteGuard(const HiveWriteGuard&) = delete;
  HiveWriteGuard& operator=(const HiveWriteGuard&) = delete;

private:
  HiveLock& lock_;
  bool held_;
};

}  // namespace platform::registry
