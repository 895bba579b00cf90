#pragma once

// The boot loader's menu file, boot.ini, in the root of a Windows drive: the
// Windows folders its menu entries boot, and the menu timeout. Freeing the
// object writes the timeout back and, once, the timeout as it was read, as
// "timeout.old" in the section "quorvane".
//
// The file is written only when that changes its content, and then every
// other line stays as it was, byte for byte (comments, blank lines, unknown
// sections, the line ends); what is new is appended with the file's own line
// ends. A boot loader refuses a damaged boot.ini, so the file is replaced
// whole (platform/AtomicFile.h) and keeps its permission bits: a read-only
// file gets the new line and is read-only again.
//
// INI text as it is read here: lines are trimmed of blanks and control
// characters; empty lines, lines beginning ";" and lines before the first
// section are skipped; "[name]" opens a section; section and key names match
// without regard to ASCII case.

#include <cstdint>
#include <string>
#include <vector>

class TBootIni {
public:
  // A Windows path ("D:\boot.ini"); empty: the boot.ini on the drive of the
  // running Windows folder.
  explicit TBootIni(const std::string& path);
  // Save(); its result is not looked at.
  ~TBootIni();
  TBootIni(const TBootIni&) = delete;
  TBootIni& operator=(const TBootIni&) = delete;

  // Reads the timeout and the entries again. False when the file exists but
  // cannot be read (what was set so far stays).
  bool Load();
  // False when the file did not exist at creation or could not be read or
  // written; true also when nothing needed writing.
  bool Save();

  // The text before the first "=" of an entry line; empty without "=" or for
  // an index out of range.
  std::string GetEntryName(int index) const;
  // Whether the entry's name part holds "multi(", "disk(" and "partition("
  // (case counts).
  bool IsWindowsEntry(int index) const;
  // Clears list, then adds the Windows folder of every Windows entry (its
  // name part from the first backslash on), each once, case ignored, in entry
  // order.
  void GetWindowsFolders(std::vector<std::string>& list) const;

  bool FExists = false;
  std::string FFileName;
  std::int32_t FTimeout = 30;
  std::int32_t FPreviousTimeout = 30;
  // The lines of the section "operating systems", as read.
  std::vector<std::string> FEntries;

  // The largest boot.ini read; a larger file counts as unreadable and is never
  // written.
  static constexpr std::size_t kMaxFileSize = 1 << 20;
};

// The text with every change of a save made: "timeout" of "boot loader" set
// to timeout, "timeout.old" of "quorvane" added with previousTimeout when
// missing. Equal to text when nothing changes.
std::string BootIniTextSaved(const std::string& text, std::int32_t timeout, std::int32_t previousTimeout);
