#include "unicode/UniSysUtils.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ErrorText.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/WinTypes.h"
#include "platform/hive/HiveFormat.h"
#include "unicode/UniWordBoundaryData.h"

namespace uni {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidParameter = 87;

// The Linux path a wide file name stands for; empty when none does.
fs::path linuxPathOf(std::u16string_view fileName) {
  const std::string bytes = platform::utf16ToWtf8(fileName);
  if (!fileName.empty() && fileName.front() == u'/') return fs::path(bytes);
  return platform::windowsToLinuxPath(bytes);
}

void setLastErrorFromErrno(int err) { platform::SetLastError(platform::errnoToWin32Error(err)); }

THandle openPath(std::u16string_view fileName, int flags) {
  const fs::path path = linuxPathOf(fileName);
  if (path.empty()) {
    platform::SetLastError(kErrorPathNotFound);
    return kInvalidHandle;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    setLastErrorFromErrno(errno);
    return kInvalidHandle;
  }
  struct stat st{};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    platform::SetLastError(kErrorAccessDenied);
    return kInvalidHandle;
  }
  return fd;
}

char16_t upcase(char16_t c) { return platform::hive::upcaseUnit(c); }

std::u16string upcased(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out) c = upcase(c);
  return out;
}

}  // namespace

int WideLastDelimiter(std::u16string_view Delimiters, std::u16string_view S) {
  for (std::size_t i = S.size(); i > 0; --i) {
    const char16_t c = S[i - 1];
    if (c != u'\0' && Delimiters.find(c) != std::u16string_view::npos) return static_cast<int>(i);
  }
  return 0;
}

std::u16string WideExtractFileDir(std::u16string_view FileName) {
  int p = WideLastDelimiter(u"\\:", FileName);
  // A deeper folder loses its trailing backslash; a root ("C:\", "\") keeps it.
  if (p > 1 && FileName[p - 1] == u'\\' && FileName[p - 2] != u':' && FileName[p - 2] != u'\\') --p;
  return std::u16string(FileName.substr(0, static_cast<std::size_t>(p)));
}

std::u16string WideExtractFileDrive(std::u16string_view FileName) {
  if (FileName.size() >= 2 && FileName[1] == u':') return std::u16string(FileName.substr(0, 2));
  if (FileName.size() >= 2 && FileName[0] == u'\\' && FileName[1] == u'\\') {
    // "\\server\share": up to the second backslash after the leading pair.
    std::size_t separators = 0;
    for (std::size_t i = 2; i < FileName.size(); ++i) {
      if (FileName[i] == u'\\' && ++separators == 2) return std::u16string(FileName.substr(0, i));
    }
    return std::u16string(FileName);
  }
  return {};
}

std::u16string WideExtractFileExt(std::u16string_view FileName) {
  const int p = WideLastDelimiter(u".\\:", FileName);
  if (p > 0 && FileName[p - 1] == u'.') return std::u16string(FileName.substr(p - 1));
  return {};
}

std::u16string WideExpandFileName(std::u16string_view FileName) {
  const fs::path path = linuxPathOf(FileName);
  if (path.empty()) return std::u16string(FileName);
  std::error_code ec;
  fs::path full = fs::absolute(path, ec);
  if (ec) full = path;
  return platform::wtf8ToUtf16(full.lexically_normal().string());
}

THandle WideFileCreate(std::u16string_view FileName) {
  return openPath(FileName, O_CREAT | O_TRUNC | O_RDWR);
}

THandle WideFileOpen(std::u16string_view FileName, unsigned Mode) {
  int access;
  switch (Mode & 3) {
    case fmOpenRead: access = O_RDONLY; break;
    case fmOpenWrite: access = O_WRONLY; break;
    case fmOpenReadWrite: access = O_RDWR; break;
    default:
      platform::SetLastError(kErrorInvalidParameter);
      return kInvalidHandle;
  }
  return openPath(FileName, access);
}

void WideFileClose(THandle Handle) {
  if (Handle >= 0) ::close(Handle);
}

int WideFileGetAttr(std::u16string_view FileName) {
  const fs::path path = linuxPathOf(FileName);
  if (path.empty()) {
    platform::SetLastError(kErrorPathNotFound);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) {
    setLastErrorFromErrno(errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  int attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  // NORMAL is only ever reported alone.
  return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

bool WideDirectoryExists(std::u16string_view Name) {
  const int attributes = WideFileGetAttr(Name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool WideCreateDir(std::u16string_view Dir) {
  const fs::path path = linuxPathOf(Dir);
  if (path.empty()) {
    platform::SetLastError(kErrorPathNotFound);
    return false;
  }
  if (::mkdir(path.c_str(), 0777) != 0) {
    setLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

std::u16string WideSysErrorMessage(std::uint32_t Code) { return WideModuleErrorMessage(u"system", Code); }

std::u16string WideModuleErrorMessage(std::u16string_view ModuleName, std::uint32_t Code) {
  const std::u16string text = platform::asciiToWide(platform::systemErrorText(Code));
  std::size_t first = 0, last = text.size();
  while (first < last && text[first] < 33) ++first;
  while (last > first && text[last - 1] < 33) --last;
  if (first < last) return text.substr(first, last - first);
  std::u16string result = u"Unspecified error (";
  result += platform::asciiToWide(std::to_string(Code));
  result += u") from ";
  result += ModuleName;
  result += u".";
  return result;
}

bool IsWordBoundaryChar(char16_t Ch) {
  if (Ch == u'\0') return true;
  const auto* begin = data::kWordBoundaries;
  const auto* end = data::kWordBoundaries + data::kWordBoundariesSize;
  // The first range that does not end before Ch.
  const auto* it = std::lower_bound(begin, end, Ch, [](const data::WordBoundaryRange& r, char16_t c) {
    return r.last < c;
  });
  return it != end && it->first <= Ch;
}

std::u16string WideStringReplaceEx(std::u16string_view S, std::u16string_view OldPattern,
                                   std::u16string_view NewPattern, unsigned Flags, bool WholeWord) {
  if (OldPattern.empty() || S.empty()) return std::u16string(S);
  // Upper-casing maps one unit to one unit, so a position in the search text
  // is the same position in S.
  std::u16string searchStore, patternStore;
  std::u16string_view search = S, pattern = OldPattern;
  if (Flags & rfIgnoreCase) {
    searchStore = upcased(S);
    patternStore = upcased(OldPattern);
    search = searchStore;
    pattern = patternStore;
  }
  std::u16string result;
  std::size_t done = 0;  // S[0, done) is in the result already
  while (done < S.size()) {
    const std::size_t at = search.find(pattern, done);
    if (at == std::u16string_view::npos) break;
    const std::size_t after = at + pattern.size();
    if (WholeWord) {
      char16_t before;
      if (at == done)
        before = result.empty() ? u'\0' : result.back();
      else
        before = S[at - 1];
      const char16_t next = after < S.size() ? S[after] : u'\0';
      if (!IsWordBoundaryChar(before) || !IsWordBoundaryChar(next)) {
        result.append(S.substr(done, after - done));
        done = after;
        continue;
      }
    }
    result.append(S.substr(done, at - done));
    result.append(NewPattern);
    done = after;
    if (!(Flags & rfReplaceAll)) break;
  }
  result.append(S.substr(done));
  return result;
}

}  // namespace uni
