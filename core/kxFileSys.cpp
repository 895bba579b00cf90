#include "core/kxFileSys.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cwctype>
#include <future>
#include <system_error>

#include <locale.h>

#include "core/MainThreadQueue.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

std::string IncludeTrailingChar(std::string_view text, char c) {
  std::string out(text);
  if (out.empty() || out.back() != c) out += c;
  return out;
}

namespace {

locale_t utf8Locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

// The name as code points, each by its simple upper-case mapping; a lone
// surrogate stays one unit of its own.
std::u32string foldedCodePoints(std::string_view text) {
  const std::u16string wide = platform::wtf8ToUtf16(text);
  const locale_t locale = utf8Locale();
  std::u32string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0xD800 || (c > 0xDFFF && c < 0x110000)) {
      if (locale != static_cast<locale_t>(nullptr))
        c = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
      else if (c >= U'a' && c <= U'z')
        c -= 32;
    }
    out.push_back(c);
  }
  return out;
}

// "*" and "?" over code points without recursion: only the latest star ever
// needs to take more, since every later start of its tail is reachable from
// it, so the work stays within name length times mask length.
bool wildcard(const std::u32string& t, const std::u32string& p) {
  std::size_t ti = 0, pi = 0, mark = 0;
  std::size_t star = std::u32string::npos;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == U'*') {
      star = pi++;
      mark = ti;
    } else if (pi < p.size() && (p[pi] == U'?' || p[pi] == t[ti])) {
      ++ti;
      ++pi;
    } else if (star != std::u32string::npos) {
      pi = star + 1;
      ti = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

// The folder part of a queue entry: up to and with its last "\" or ":".
std::size_t folderPartEnd(std::string_view entry) {
  const std::size_t at = entry.find_last_of("\\:");
  return at == std::string_view::npos ? 0 : at + 1;
}

fs::path nativeFolder(std::string_view folderPart) {
  if (folderPart.empty()) return fs::path(".");
  return platform::windowsToLinuxPath(folderPart);
}

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// The order an NTFS listing comes in, near enough: case ignored, then bytes.
bool listingOrder(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char x = asciiUpper(a[i]), y = asciiUpper(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

struct Listed {
  std::string name;
  bool directory = false;
  bool link = false;
};

// The entries of a folder but "." and "..", in listing order. A folder that
// cannot be read lists nothing.
std::vector<Listed> listFolder(const fs::path& folder) {
  std::vector<Listed> out;
  if (folder.empty()) return out;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return out;
  const int fd = dirfd(dir);
  while (const dirent* e = readdir(dir)) {
    const std::string_view name(e->d_name);
    if (name == "." || name == "..") continue;
    Listed item{std::string(name)};
    unsigned char type = e->d_type;
    struct stat st {};
    if (type == DT_UNKNOWN && fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
      type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
    if (type == DT_LNK) {
      // Shown as what it points to, but never entered.
      item.link = true;
      item.directory = fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    } else {
      item.directory = type == DT_DIR;
    }
    out.push_back(std::move(item));
  }
  closedir(dir);
  std::sort(out.begin(), out.end(), [](const Listed& a, const Listed& b) { return listingOrder(a.name, b.name); });
  return out;
}

}  // namespace

bool MatchesFileMask(std::string_view name, std::string_view mask) {
  if (mask == "*.*" || mask == "*") return true;
  return wildcard(foldedCodePoints(name), foldedCodePoints(mask));
}

fs::path TSearchRec::NativePath() const { return Folder ? *Folder / Name : fs::path(Name); }

int TSearchRec::Attr() const {
  int attr = Directory ? faDirectory : faArchive;
  if (!Name.empty() && Name[0] == '.') attr |= faHidden;
  struct stat st {};
  if (stat(NativePath().c_str(), &st) == 0 && (st.st_mode & 0222) == 0) attr |= faReadOnly;
  return attr;
}

std::uint64_t TSearchRec::Size() const {
  struct stat st {};
  if (Directory || stat(NativePath().c_str(), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

std::chrono::system_clock::time_point TSearchRec::Time() const {
  struct stat st {};
  if (stat(NativePath().c_str(), &st) != 0) return {};
  return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
      std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
}

void TFileFinder::log(const std::string& text) {
  if (!OnLog) return;
  FLogText = text;
  fire([this] { OnLog(FLogText); });
}

void TFileFinder::fire(const std::function<void()>& call) {
  if (!FInThread || FSynchronizer == nullptr) {
    call();
    return;
  }
  std::promise<void> done;
  std::future<void> waited = done.get_future();
  FSynchronizer->Queue([&call, &done] {
    try {
      call();
      done.set_value();
    } catch (...) {
      done.set_exception(std::current_exception());
    }
  });
  waited.get();
}

void TFileFinder::Start() {
  log("TFileFinder.Start.0");
  FRunning = true;
  FStartTime = std::chrono::system_clock::now();
  const auto started = std::chrono::steady_clock::now();
  FFileCount = 0;
  FFolderCount = 0;
  FStopRequested = false;
  FFolderQueue.clear();

  log("TFileFinder.Start.1");
  std::vector<std::string> parts;
  std::size_t pos = 0;
  for (std::size_t semi; (semi = FRoots.find(';', pos)) != std::string::npos; pos = semi + 1)
    parts.push_back(FRoots.substr(pos, semi - pos));
  log("TFileFinder.Start.2");
  parts.push_back(FRoots.substr(pos));
  log("TFileFinder.Start.3");
  for (std::string& part : parts) {
    // An empty part would scan the working folder.
    if (part.empty()) continue;
    if (part.size() == 2 && part[1] == ':') part += '\\';
    if (part.back() == '\\') part += "*.*";
    auto folder = std::make_shared<const fs::path>(nativeFolder(std::string_view(part).substr(0, folderPartEnd(part))));
    FFolderQueue.push_back({std::move(part), std::move(folder), 0});
  }
  FSingleRoot = FFolderQueue.size() == 1 ? FFolderQueue.front().text : std::string();

  while (!FFolderQueue.empty() && !FStopRequested) {
    const QueueEntry entry = std::move(FFolderQueue.front());
    FFolderQueue.pop_front();
    FCurrentName = entry.text;
    if (OnFolderStart) fire([this] { OnFolderStart(FCurrentName); });
    scan(entry);
  }
  FFolderQueue.clear();

  FEndTime = std::chrono::system_clock::now();
  FRunning = false;
  FStopRequested = false;
  if (OnFinished) {
    const auto elapsed = std::chrono::steady_clock::now() - started;
    fire([this, elapsed] { OnFinished(FFileCount, FFolderCount, elapsed); });
  }
}

void TFileFinder::ScanFolder(const std::string& entry) {
  scan({entry, std::make_shared<const fs::path>(nativeFolder(std::string_view(entry).substr(0, folderPartEnd(entry)))), 0});
}

void TFileFinder::scan(const QueueEntry& entry) {
  const std::size_t folderEnd = folderPartEnd(entry.text);
  const std::string_view folderPart = std::string_view(entry.text).substr(0, folderEnd);
  const std::string_view mask = std::string_view(entry.text).substr(folderEnd);
  const bool logging = static_cast<bool>(OnLog);

  if (logging) log("TFileFinder.ScanFolder(" + entry.text + "): file scan started");
  const std::vector<Listed> items = listFolder(*entry.folder);
  TSearchRec record;
  record.Folder = entry.folder;
  std::string path;
  for (const Listed& item : items) {
    if (!MatchesFileMask(item.name, mask)) continue;
    if (logging) log("TFileFinder.ScanFolder(" + entry.text + "): file scan found " + item.name);
    if (FStopRequested) {
      FRunning = false;
      return;
    }
    path.assign(folderPart);
    path += item.name;
    record.Name.assign(item.name);
    record.Directory = item.directory;
    if (item.directory)
      DoFolderFound(path, record);
    else
      DoFileFound(path, record);
  }

  if (logging) log("TFileFinder.ScanFolder(" + entry.text + "): folder scan started");
  if (!FRecursive || entry.depth >= kMaxDepth) return;
  for (const Listed& item : items) {
    if (!item.directory) continue;
    if (FStopRequested) {
      FRunning = false;
      return;
    }
    if (item.link) continue;
    std::string text;
    text.reserve(folderPart.size() + item.name.size() + 1 + mask.size());
    text.append(folderPart).append(item.name).append(1, '\\').append(mask);
    FFolderQueue.push_back({std::move(text), std::make_shared<const fs::path>(*entry.folder / item.name), entry.depth + 1});
  }
}

std::string TFileFinder::relativeToSingleRoot(const std::string& path) const {
  const std::string_view base = std::string_view(FSingleRoot).substr(0, folderPartEnd(FSingleRoot));
  if (path.size() >= base.size() &&
      std::equal(base.begin(), base.end(), path.begin(), [](char a, char b) { return asciiUpper(a) == asciiUpper(b); }))
    return path.substr(base.size());
  return path;
}

void TFileFinder::DoFileFound(const std::string& path, const TSearchRec& record) {
  if (!FFullPaths) {
    if (FRelativePaths && !FSingleRoot.empty())
      FCurrentName = relativeToSingleRoot(path);
    else
      FCurrentName.assign(record.Name);
  } else {
    FCurrentName.assign(path);
  }
  ++FFileCount;
  FCurrentSearchRec = &record;
  if (OnFileFound) fire([this] { OnFileFound(FCurrentName, *FCurrentSearchRec); });
  FCurrentSearchRec = nullptr;
}

void TFileFinder::DoFolderFound(const std::string& path, const TSearchRec& record) {
  FCurrentName.assign(FFullPaths ? path : record.Name);
  ++FFolderCount;
  FCurrentSearchRec = &record;
  if (OnFolderFound) fire([this] { OnFolderFound(FCurrentName, *FCurrentSearchRec); });
  FCurrentSearchRec = nullptr;
}

void TFileFinder::Execute() {
  FInThread = true;
  // Shows in debuggers and in the system's thread list.
  pthread_setname_np(pthread_self(), "FileFinder_X");
  log("TFileFinder.Execute.1");
  Start();
  FInThread = false;
}

void FindFiles(const std::string& roots, std::vector<std::string>* list, bool files, bool folders, bool fullPaths,
               bool recursive, bool relativePaths) {
  if (list == nullptr) return;
  TFileFinderCollector collector;
  TFileFinder finder;
  finder.SetRecursive(recursive);
  finder.SetFullPaths(fullPaths);
  finder.SetRelativePaths(relativePaths);
  if (files) finder.OnFileFound = [&collector](const std::string& p, const TSearchRec& r) { collector.AddFile(p, r); };
  if (folders)
    finder.OnFolderFound = [&collector](const std::string& p, const TSearchRec& r) { collector.AddFolder(p, r); };
  finder.FRoots = roots;
  finder.Start();
  list->reserve(list->size() + collector.Files.size() + collector.Folders.size());
  list->insert(list->end(), std::make_move_iterator(collector.Files.begin()),
               std::make_move_iterator(collector.Files.end()));
  list->insert(list->end(), std::make_move_iterator(collector.Folders.begin()),
               std::make_move_iterator(collector.Folders.end()));
}
