#pragma once

// Writing a file so that, whatever moment the process or the machine dies,
// the target is either its old content or the new one, whole: the bytes go
// to a temporary file in the same folder, which is synced and then renamed
// over the target, and the folder is synced. An existing target keeps its
// owner, group and permissions; a new one gets the mode asked for (0666
// unless said) less the umask.

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>

namespace platform {

class AtomicFile {
public:
  AtomicFile() = default;
  // Discards the temporary file unless commit() succeeded.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file beside `target`. 0 or an errno value; EPERM
  // when the target is another user's (or of a group this process is not
  // in) and this process may not give the new file that owner: replacing it
  // would take the file away from its owner.
  [[nodiscard]] int open(const std::filesystem::path& target, unsigned newFileMode = 0666);
  // Appends bytes. 0 or an errno value (the first failure sticks).
  [[nodiscard]] int write(std::span<const std::byte> bytes);
  [[nodiscard]] int write(const void* data, std::size_t size) {
    return write(std::span<const std::byte>(static_cast<const std::byte*>(data), size));
  }
  // Syncs, closes and renames over the target, then syncs the folder. 0 or an
  // errno value; on failure the target is untouched (unless only the final
  // folder sync failed: the new file is then in place but maybe not durable).
  [[nodiscard]] int commit();
  // As commit(), but never replaces anything: EEXIST when the target exists
  // (a file, a link, anything), and the temporary file is dropped.
  [[nodiscard]] int commitNew();
  // Drops the temporary file; the target is untouched.
  void discard();

private:
  [[nodiscard]] int finish(bool replace);

  std::filesystem::path target_;
  std::filesystem::path temp_;
  int fd_ = -1;
  int error_ = 0;
};

// The start of the names of `target`'s temporary files: "." + its name +
// ".tmp" + the writer's process id + "-" (with pid 0, only what comes before
// the id). A writer that dies before commit or discard (killed, or the
// machine stopped) leaves its file behind.
std::string temporaryNamePrefix(const std::filesystem::path& target, long pid);

// Removes the temporary files beside `target` whose writer process no longer
// runs; those of a running process (or of one we may not signal: another
// user's) are left alone, since it may still commit. A process id reused by
// now keeps a dead writer's file until a later call. Returns how many were
// removed; errors only leave files in place.
std::size_t removeStaleTemporaries(const std::filesystem::path& target);

// Whether a save may replace `target`: 0, or the errno that says why not.
// A file without any write permission bit is read-only for everyone, the
// superuser included (EACCES); so is one this process may not write, or one
// in a folder where it may not rename. A file that a replacement could not
// give back to its owner and group (see AtomicFile::open) gives EPERM.
[[nodiscard]] int checkReplaceable(const std::filesystem::path& target);

// A folder of this user's own inside a folder others may write (/tmp): made
// 0700 when missing. 0 when it is (now) a real folder, not a link, owned by
// this user and closed to others (read bits of others are taken away);
// EPERM when another user owns it or others may write into it, ENOTDIR when
// it is something else, else the errno of the failure.
[[nodiscard]] int usePrivateFolder(const std::filesystem::path& folder);

// The whole of `bytes` as the new content of `target`, as above.
[[nodiscard]] int writeFileAtomically(const std::filesystem::path& target, std::span<const std::byte> bytes,
                                      unsigned newFileMode = 0666);

}  // namespace platform
