#pragma once

// The lock that keeps processes apart on one hive file.
//
// Hive files are saved by writing a new file and renaming it over the old one,
// so a lock on the hive file itself would be lost with its inode at the first
// save. The lock lives instead on a small file of its own, named after the
// hive's canonical path, in the user's runtime folder. Two byte ranges of it:
//  - "use": held shared by every process that has the hive in its default
//    registry, exclusive by a process that mounted it with RegLoadKey, so a
//    mount fails while anyone else uses the file;
//  - "write": held exclusive for the short time a process reloads, merges and
//    saves the hive, so two writers never interleave.
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

  // Opens the lock file for the hive at path (which must exist). False when
  // the lock folder or file cannot be made.
  bool open(const std::filesystem::path& hivePath);
  bool isOpen() const { return fd_ >= 0; }

  // Non-blocking. False when another holder is in the way.
  bool lockUseShared();
  bool lockUseExclusive();
  void unlockUse();

  // Waits for the range; false only when the lock cannot be taken at all.
  bool lockWrite();
  void unlockWrite();

  void close();

private:
  int fd_ = -1;
};

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
