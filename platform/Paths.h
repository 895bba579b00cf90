#pragma once

// Windows paths at the file boundary. The drive table maps C: to "/" and D:,
// E:, ... to the other mounted file systems in mount-table order. Matching of
// file names on those drives ignores case.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct Drive {
  char letter;            // 'C', 'D', ...
  std::string mountPoint; // "/", "/mnt/win", ...
};

// The current drive table (from /proc/self/mountinfo unless overridden).
std::vector<Drive> driveTable();
// For tests: replaces the drive table; an empty list restores the real one.
void setDriveTable(std::vector<Drive> drives);

// "C:\Windows\x" -> "/Windows/x" (after case-insensitive resolution of each
// existing component); relative paths keep being relative; "\" runs fold.
std::filesystem::path windowsToLinuxPath(std::string_view windowsPath);
// "/mnt/win/x" -> "D:\x" for the drive whose mount point is the longest prefix.
std::string linuxToWindowsPath(const std::filesystem::path& path);

}  // namespace platform
