#include "crashreport/zebBugRepFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptObject.h"
#include "crashreport/zebStrings.h"
#include "platform/AtomicFile.h"
#include "platform/ShellFolders.h"

namespace fs = std::filesystem;

namespace zeb {

namespace {

constexpr std::string_view kStartItem = "date/time";
constexpr std::string_view kSeparator = "\r\n\r\n";


// Whether a header line "date/time<blanks>:" starts at pos.
bool IsReportStart(std::string_view text, std::size_t pos) {
  if (text.compare(pos, kStartItem.size(), kStartItem) != 0) return false;
  std::size_t i = pos + kStartItem.size();
  while (i < text.size() && text[i] == ' ') ++i;
  return i < text.size() && text[i] == ':';
}

// The positions where reports begin: at the start of the file or right after
// the empty line that ends the report before.
std::vector<std::size_t> ReportStarts(std::string_view text) {
  std::vector<std::size_t> starts;
  if (IsReportStart(text, 0)) starts.push_back(0);
  for (std::size_t p = text.find(kSeparator); p != std::string_view::npos; p = text.find(kSeparator, p + 2))
    if (IsReportStart(text, p + kSeparator.size())) starts.push_back(p + kSeparator.size());
  return starts;
}

// The header of a report: its lines up to the first empty line.
std::string_view HeaderOf(std::string_view report) {
  const std::size_t end = report.find(kSeparator);
  return end == std::string_view::npos ? report : report.substr(0, end);
}

// The position of the header line named exactly `item` and of its colon.
bool FindHeaderLine(std::string_view header, std::string_view item, std::size_t& lineStart, std::size_t& colon,
                    std::size_t& lineEnd) {
  std::size_t pos = 0;
  while (pos <= header.size()) {
    std::size_t end = header.find("\r\n", pos);
    if (end == std::string_view::npos) end = header.size();
    const std::string_view line = header.substr(pos, end - pos);
    if (line.size() > item.size() && line.compare(0, item.size(), item) == 0) {
      std::size_t i = item.size();
      while (i < line.size() && line[i] == ' ') ++i;
      if (i < line.size() && line[i] == ':') {
        lineStart = pos;
        colon = pos + i;
        lineEnd = end;
        return true;
      }
    }
    if (end == header.size()) break;
    pos = end + 2;
  }
  return false;
}

}  // namespace

std::string ResolveBugReportFileName(TIZeqSettings& settings) {
  std::string name = settings.BugRepFile();
  const std::string program = WithoutExtension(ProgramFileName());
  ReplaceAll(name, "%appname%", program, true, false);
  // This program's settings belong to its own file.
  ReplaceAll(name, "%modname%", program, true, false);
  return name;
}

std::string ReadHeaderItem(std::string_view report, std::string_view item) {
  if (item.empty()) return {};
  const std::string_view header = HeaderOf(report);
  std::size_t start = 0, colon = 0, end = 0;
  if (!FindHeaderLine(header, item, start, colon, end)) return {};
  const std::size_t value = std::min(colon + 2, end);
  return std::string(header.substr(value, end - value));
}

bool SameHeaderItem(std::string_view a, std::string_view b, std::string_view item) {
  return ReadHeaderItem(a, item) == ReadHeaderItem(b, item);
}

void InsertHeaderItem(std::string& report, std::string_view item, std::string_view afterItem,
                      std::string_view content) {
  const std::string_view header = HeaderOf(report);
  std::size_t start = 0, colon = 0, end = 0;
  if (!FindHeaderLine(header, afterItem, start, colon, end)) return;
  const int width = int(colon - start);
  const std::string line = "\r\n" + PadText(item, -width, ' ') + ": " + std::string(content);
  report.insert(end, line);
}

bool CreateFolderChain(const std::string& filePath) {
  const fs::path folder = fs::path(filePath).parent_path();
  if (folder.empty()) return true;
  std::error_code ec;
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

std::string DesktopFolder() {
  std::string folder = platform::specialFolderPath(0x10);  // the desktop directory
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec)) {
    const char* home = std::getenv("HOME");
    folder = home && *home ? home : ProgramFileName().empty() ? "/" : fs::current_path(ec).string();
  }
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string ApplyBugReportRules(const std::string& oldContent, const std::string& reportText,
                                const BugReportRules& rules, bool& plainAppend) {
  plainAppend = true;
  if (!rules.append) {
    plainAppend = oldContent.empty();
    return reportText + std::string(kSeparator);
  }
  std::string content = oldContent;
  std::string report = reportText;
  std::string key;
  if (!content.empty()) {
    key = ReadHeaderItem(report, "callstack crc");
    if (key.size() != 31 || !rules.noDuplicates)
      key.clear();
    else
      key.resize(rules.duplicateDefinition == 0 ? 9 : rules.duplicateDefinition == 1 ? 20 : 31);
  }
  const bool trim = rules.sizeLimit > 0 && std::size_t(rules.sizeLimit) < content.size();
  if (!key.empty()) {
    // The newest older report of the same crash.
    const std::vector<std::size_t> starts = ReportStarts(content);
    for (std::size_t i = starts.size(); i-- > 0;) {
      const std::size_t s = starts[i];
      const std::size_t e = i + 1 < starts.size() ? starts[i + 1] : content.size();
      const std::string_view old = std::string_view(content).substr(s, e - s);
      if (!ReadHeaderItem(old, "callstack crc").starts_with(key)) continue;
      bool same = SameHeaderItem(old, report, "executable") && SameHeaderItem(old, report, "current module") &&
                  SameHeaderItem(old, report, "exception class") && SameHeaderItem(old, report, "version");
      if (same && ReadHeaderItem(old, "version").empty())
        same = SameHeaderItem(old, report, "exec. date/time") && SameHeaderItem(old, report, "module date/time");
      if (!same) continue;
      const std::string countText = ReadHeaderItem(old, "count");
      const std::int64_t count = countText.empty() ? 1 : std::max<std::int64_t>(1, ParseNumber(false, countText));
      InsertHeaderItem(report, "count", "callstack crc", DecimalText(count + 1));
      content.erase(s, e - s);
      plainAppend = false;
      break;
    }
  }
  if (trim) {
    const std::size_t keep = std::size_t(rules.sizeLimit - rules.sizeLimit / 4);
    for (std::size_t s : ReportStarts(content)) {
      if (s == 0) continue;
      if (content.size() - (s - 2) < keep) {
        content.erase(0, s);
        plainAppend = false;
        break;
      }
    }
  }
  return content + report + std::string(kSeparator);
}

bool WriteBugReportFile(const std::string& fileName, const std::string& reportText, bool noDialog,
                        TIZeqSettings& settings, const SaveDialogFunction& dialog) {
  try {
    std::string path = fileName;
    const bool configured = fileName.empty() && noDialog;
    if (fileName.empty()) {
      const std::string resolved = ResolveBugReportFileName(settings);
      if (noDialog) {
        path = ResolveSettingsPath(resolved).string();
      } else {
        if (IsProcessLocked(250) || !dialog) return false;
        const bool hasFolder = resolved.find_first_of("/\\") != std::string::npos;
        const std::string folder = hasFolder ? FolderOf(ResolveSettingsPath(resolved).string()) : DesktopFolder();
        path = dialog(folder, FileNameOf(resolved), settings.SaveBtnTxt());
        if (path.empty()) return false;
      }
    }
    if (path.empty() || !CreateFolderChain(path)) return false;

    // One writer at a time, across processes. The writer removes the lock
    // file before it lets go, so a lock taken on a file that is no longer
    // at its name is worth nothing: take it again on the new one.
    const std::string lockPath = path + ".lock";
    struct Unlock {
      const std::string& path;
      int fd = -1;
      ~Unlock() {
        if (fd < 0) return;
        ::unlink(path.c_str());
        ::close(fd);
      }
    } unlock{lockPath};
    for (int attempt = 0; unlock.fd < 0; ++attempt) {
      const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (lockFd < 0) return false;
      if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        return false;
      }
      struct stat held {}, named {};
      if (::fstat(lockFd, &held) == 0 && ::lstat(lockPath.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        unlock.fd = lockFd;
      } else {
        ::close(lockFd);
        if (attempt >= 16) return false;
      }
    }

    // What the program writes for itself is the user's alone.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::string old;
    {
      char buffer[65536];
      ssize_t n;
      while ((n = ::read(fd, buffer, sizeof buffer)) > 0) old.append(buffer, std::size_t(n));
      if (n < 0) {
        ::close(fd);
        return false;
      }
    }
    BugReportRules rules;
    rules.append = settings.AppendBugReps();
    rules.sizeLimit = settings.BugRepFileSize();
    const bool exception = !ReadHeaderItem(reportText, "exception class").empty();
    rules.noDuplicates = exception ? settings.NoDupExcepts() : settings.NoDupFreezes();
    rules.duplicateDefinition = exception ? settings.DupExceptDef() : settings.DupFreezeDef();
    bool plainAppend = true;
    const std::string content = ApplyBugReportRules(old, reportText, rules, plainAppend);
    bool ok;
    if (plainAppend) {
      const std::string tail = content.substr(old.size());
      ok = ::lseek(fd, 0, SEEK_END) >= 0 && ::write(fd, tail.data(), tail.size()) == ssize_t(tail.size());
      ::close(fd);
    } else {
      ::close(fd);
      ok = platform::writeFileAtomically(path, std::as_bytes(std::span(content.data(), content.size()))) == 0;
    }
    if (!ok) return false;
    if (configured)
      if (auto* exceptionObject = dynamic_cast<IZeqExceptionEx*>(&settings)) exceptionObject->SetReportSaved(true);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace zeb
