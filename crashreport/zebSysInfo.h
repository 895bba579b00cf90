#pragma once

// What the bug report's header says about the machine and the process, each
// as the text the header shows: user, operating system and its language, up
// times, processor, memory, free disk space, display, the process's own
// memory. Every helper answers with an empty text (false, 0) when its source
// is missing; none throws on its own.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zeb {

// The whole of a file, read to its end (/proc files report a size of 0);
// empty when it cannot be read.
std::string ReadSystemFile(const std::string& path);

// The two largest of day, hour, minute and second that apply, each followed
// by a blank: 90061 gives "1 day 1 hour ", 3725 "1 hour 2 minutes ", 0 "".
// A negative value counts as 0.
std::string DurationText(std::int64_t seconds);

// The effective user's name.
std::string UserNameText();
// The effective user is root.
bool UserIsAdministrator();
// The distribution's name, " build " and the kernel release.
std::string OsVersionText();
// The English name of the language of the locale the messages use
// (LC_ALL, LC_MESSAGES, LANG); "English" for the C locale.
std::string OsLanguageText();
// The English name of an ISO 639 language code ("de" -> "German"); the code
// itself when unknown.
std::string LanguageName(std::string_view code);
// Since boot, from /proc/uptime.
std::string SystemUpTimeText();
// Since the process started (its start time in /proc/self/stat); below a
// second the milliseconds and " milliseconds".
std::string ProgramUpTimeText();
// The first processor's model name, inner runs of blanks made one.
std::string ProcessorName();
// The processors online.
int ProcessorCount();
// "<available>/<total> MB (free/total)".
std::string MemoryStatusText();
std::string MemoryStatusFrom(std::string_view meminfo);
// "(<mount point>) <free bytes as SizeText>" of the file system holding the
// folder (its nearest existing parent); empty when it cannot be asked.
std::string DriveFreeText(const std::string& folder);
// The free-space item: the program's data folder, and the program file's
// file system too when that is another one.
std::string FreeDiskSpaceText();
// "<width>x<height>, <depth> bit" of the primary screen, from the source the
// windows install; empty without one (no GUI).
std::string DisplayModeText();
void SetDisplayModeSource(std::function<std::string()> source);
// The anonymous memory mapped into the process (heap, stacks, anonymous
// mappings; reserved but inaccessible ranges left out), as SizeText.
std::string AllocatedMemoryText();
std::uint64_t AnonymousBytesFrom(std::string_view maps);
// The process's command line, arguments joined by blanks; empty when the
// program got no argument.
std::string CommandLineText();
// The compiler that built the program and its version.
std::string CompilerText();

}  // namespace zeb
