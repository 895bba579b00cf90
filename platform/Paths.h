#pragma once

// Windows paths at the file boundary. The drive table maps C: to "/" and D:,
// E:, ... to the other mounted file systems in mount-table order. Matching of
// file names on those drives ignores case.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct Drive {
  char letter;            // 'C', 'D', ...
  std::string mountPoint; // "/", "/mnt/win", ...
};

// The current drive table: the one setDriveTable gave, else the one
// HIVESCOPE_DRIVES names, else the one /proc/self/mountinfo describes.
std::vector<Drive> driveTable();
// For tests: replaces the drive table; an empty list restores the real one.
void setDriveTable(std::vector<Drive> drives);

// The drive table a HIVESCOPE_DRIVES text describes: "D=/mnt/img;E=/srv/x",
// each letter once (the first wins), "D:=" also accepted. C: is "/" unless
// the text names it. Parts with no letter, no "=" or no folder are skipped,
// so a text naming nothing gives C: alone.
std::vector<Drive> parseDriveList(std::string_view text);

// The drive table a /proc/self/mountinfo text describes. C: is always "/".
// D:, E:, ... go, in mount-table order, to the mounts that hold files a user
// would call a disk: a file system on a block device ("/dev/..."), or any file
// system under /mnt, /media or /run/media (network shares, FUSE disks). Kernel
// and memory file systems (proc, sysfs, tmpfs, cgroup, overlay, squashfs, ...)
// never get a letter, nor a mount point that is not a directory (a container's
// bind-mounted /etc/hosts), nor a second mount on a point already listed.
// Letters stop at Z:. isDirectory decides the directory test (the real file
// system when empty).
std::vector<Drive> parseMountInfo(std::string_view mountInfo,
                                  const std::function<bool(const std::string&)>& isDirectory = {});

// "C:\Windows\x" -> "/Windows/x" (after case-insensitive resolution of each
// existing component); relative paths keep being relative; "\" runs fold.
// Both "\" and "/" separate. A component that exists with other case takes
// the case found on disk (an exact match wins; among several case variants
// the smallest name); the first component that does not exist and all after
// it stay as given. "\x" without a drive is on C:; "X:x" counts as "X:\x";
// "\\?\" and "\\.\" prefixes are dropped. UNC paths ("\\server\share")
// name no local file and, like a drive letter the table lacks or an empty
// text, give an empty path, which every file call refuses.
std::filesystem::path windowsToLinuxPath(std::string_view windowsPath);
// "/mnt/win/x" -> "D:\x" for the drive whose mount point is the longest prefix
// (lexically normalised first; no symbolic link is followed). A relative path
// stays relative with "\" separators.
std::string linuxToWindowsPath(const std::filesystem::path& path);

}  // namespace platform
