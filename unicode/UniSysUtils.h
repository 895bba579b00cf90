#pragma once

// Wide file names, file handles, system error texts and a wide replace with a
// whole-word option.
//
// The path functions work on Windows-style names and split at "\" and ":"
// only. The file functions take either a Linux path (a name that starts with
// "/", used as it stands) or a Windows path, which platform::windowsToLinuxPath
// turns into one. A failed file call sets platform::SetLastError to the
// Windows error code for the errno it met.

#include <cstdint>
#include <string>
#include <string_view>

namespace uni {

// A POSIX file descriptor; kInvalidHandle (negative) on failure.
using THandle = int;
inline constexpr THandle kInvalidHandle = -1;

inline constexpr int INVALID_FILE_ATTRIBUTES = -1;
inline constexpr int FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr int FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr int FILE_ATTRIBUTE_NORMAL = 0x80;

// Access in the low two bits of a file mode, sharing in bits 4 to 7.
inline constexpr unsigned fmOpenRead = 0x0000;
inline constexpr unsigned fmOpenWrite = 0x0001;
inline constexpr unsigned fmOpenReadWrite = 0x0002;
inline constexpr unsigned fmShareExclusive = 0x0010;
inline constexpr unsigned fmShareDenyWrite = 0x0020;
inline constexpr unsigned fmShareDenyRead = 0x0030;
inline constexpr unsigned fmShareDenyNone = 0x0040;

// The 1-based position of the last character of S that is one of the non-NUL
// characters of Delimiters; 0 when there is none.
int WideLastDelimiter(std::u16string_view Delimiters, std::u16string_view S);
// "C:\a\b.txt" -> "C:\a"; a root keeps its backslash ("C:\b.txt" -> "C:\");
// a bare name gives "".
std::u16string WideExtractFileDir(std::u16string_view FileName);
// "C:" of "C:\x"; "\\server\share" of "\\server\share\dir"; "" otherwise.
std::u16string WideExtractFileDrive(std::u16string_view FileName);
// The extension with its dot, "" when the last "." is not in the last part.
std::u16string WideExtractFileExt(std::u16string_view FileName);

// The absolute, normalised Linux path the file functions would use, as wide
// text, with no length limit. A name no local path stands for (a UNC name, a
// drive the table lacks) comes back unchanged.
std::u16string WideExpandFileName(std::u16string_view FileName);

// Creates or truncates a file for reading and writing.
THandle WideFileCreate(std::u16string_view FileName);
// Opens an existing file with the access of Mode & 3 (fmOpenRead, fmOpenWrite,
// fmOpenReadWrite). POSIX has no sharing modes, so the sharing bits are
// accepted and not enforced. A folder is refused with "access denied".
THandle WideFileOpen(std::u16string_view FileName, unsigned Mode);
// Closes a handle the two calls above returned; kInvalidHandle is ignored.
void WideFileClose(THandle Handle);
// FILE_ATTRIBUTE_* of the file, or INVALID_FILE_ATTRIBUTES.
int WideFileGetAttr(std::u16string_view FileName);
bool WideDirectoryExists(std::u16string_view Name);
bool WideCreateDir(std::u16string_view Dir);

// The system's text for an error code, trimmed of blanks and controls at
// both ends, or "Unspecified error (<code>) from <module>." when it has none.
std::u16string WideSysErrorMessage(std::uint32_t Code);
std::u16string WideModuleErrorMessage(std::u16string_view ModuleName, std::uint32_t Code);

// NUL, the white-space controls TAB to CR, and every character of Unicode's
// punctuation, symbol and separator categories.
bool IsWordBoundaryChar(char16_t Ch);

inline constexpr unsigned rfReplaceAll = 0x01;
inline constexpr unsigned rfIgnoreCase = 0x02;

// Replaces the first (rfReplaceAll: every) occurrence of OldPattern in S by
// NewPattern. rfIgnoreCase compares units upper-cased one to one as the
// registry does, so lengths never change. WholeWord takes only occurrences
// with a word boundary (or the text's end) on both sides; the character before
// an occurrence right after a replacement is the replacement's last one. An
// empty pattern is found nowhere.
std::u16string WideStringReplaceEx(std::u16string_view S, std::u16string_view OldPattern,
                                   std::u16string_view NewPattern, unsigned Flags, bool WholeWord);

}  // namespace uni
