#pragma once

// File-system helpers and the file finder.
//
// The finder works in Windows paths ("D:\data\*.dat", "\" separating), as
// its callers build them, and reaches the files through the drive table
// (platform/Paths.h), so file names match without regard to case. It scans
// breadth-first: the sub-folders a folder holds are queued behind everything
// queued before them.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class MainThreadQueue;

// The text with c appended unless it already ends with it.
std::string IncludeTrailingChar(std::string_view text, char c);

// Whether a file name matches a file mask as the system's file search does:
// "*" any run of characters, "?" exactly one, case ignored (Unicode simple
// upper-casing), and "*.*" takes every name, names without a dot too.
bool MatchesFileMask(std::string_view name, std::string_view mask);

// Windows attribute bits of a directory entry.
inline constexpr int faReadOnly = 0x01;
inline constexpr int faHidden = 0x02;
inline constexpr int faSysFile = 0x04;
inline constexpr int faVolumeID = 0x08;
inline constexpr int faDirectory = 0x10;
inline constexpr int faArchive = 0x20;

// One directory entry as the finder reports it. The name and whether it is a
// folder come from the listing; size, time and the read-only bit need the
// entry's status and are read when asked for (most scans never ask).
class TSearchRec {
public:
  std::string Name;
  bool Directory = false;
  // The folder on this system that holds the entry, shared by all its entries.
  std::shared_ptr<const std::filesystem::path> Folder;

  std::filesystem::path NativePath() const;

  // faDirectory or faArchive, faHidden for a name beginning ".", faReadOnly
  // when nobody may write it.
  int Attr() const;
  // 0 for a folder or an entry that cannot be read.
  std::uint64_t Size() const;
  // Last modification; the epoch for an entry that cannot be read.
  std::chrono::system_clock::time_point Time() const;
};

class TFileFinder {
public:
  using TFoundEvent = std::function<void(const std::string& path, const TSearchRec& record)>;
  using TFolderStartEvent = std::function<void(const std::string& entry)>;
  using TFinishedEvent = std::function<void(std::int64_t fileCount, std::int64_t folderCount,
                                            std::chrono::steady_clock::duration elapsed)>;
  using TLogEvent = std::function<void(const std::string& text)>;

  // How deep below a root the finder goes. Symbolic links to folders are
  // never followed, but a bind mount can still hold its own parent.
  static constexpr int kMaxDepth = 256;

  TFileFinder() = default;
  virtual ~TFileFinder() = default;
  TFileFinder(const TFileFinder&) = delete;
  TFileFinder& operator=(const TFileFinder&) = delete;

  // ";"-separated folders or folder-plus-mask entries: "C:" and "C:\x\" take
  // the mask "*.*"; "C:\x\*.dat" keeps its own; in "C:\x" the mask is "x".
  std::string FRoots;

  TFoundEvent OnFileFound;
  TFoundEvent OnFolderFound;
  TFolderStartEvent OnFolderStart;
  TFinishedEvent OnFinished;
  TLogEvent OnLog;

  void SetRecursive(bool value) { FRecursive = value; }
  void SetFullPaths(bool value) { FFullPaths = value; }
  void SetRelativePaths(bool value) { FRelativePaths = value; }
  bool Recursive() const { return FRecursive; }
  bool FullPaths() const { return FFullPaths; }
  bool RelativePaths() const { return FRelativePaths; }

  // Where the events go while Execute runs on a thread of its own: each is
  // run there and the scan waits for it. Without one they run on the
  // scanning thread.
  void SetSynchronizer(MainThreadQueue* queue) { FSynchronizer = queue; }

  // A whole scan on the calling thread. The flags are cleared at its end, so
  // a finder can be started again.
  void Start();
  // One queue entry: its files and folders that match its mask, then (when
  // recursive) every sub-folder queued with the same mask.
  void ScanFolder(const std::string& entry);
  // The body of a finder thread: Start with the in-thread flag set.
  void Execute();
  // Callable from any thread, a handler included: ends the scan at the next
  // directory entry or queue entry.
  void Stop() { FStopRequested = true; }

  bool Running() const { return FRunning; }
  bool InThread() const { return FInThread; }
  std::int64_t FileCount() const { return FFileCount; }
  std::int64_t FolderCount() const { return FFolderCount; }
  std::chrono::system_clock::time_point StartTime() const { return FStartTime; }
  std::chrono::system_clock::time_point EndTime() const { return FEndTime; }
  const std::string& CurrentName() const { return FCurrentName; }

protected:
  virtual void DoFileFound(const std::string& path, const TSearchRec& record);
  virtual void DoFolderFound(const std::string& path, const TSearchRec& record);

private:
  struct QueueEntry {
    std::string text;                // Windows folder + mask
    std::shared_ptr<const std::filesystem::path> folder;  // the folder on this system
    int depth = 0;
  };

  void scan(const QueueEntry& entry);
  void log(const std::string& text);
  void fire(const std::function<void()>& call);
  std::string relativeToSingleRoot(const std::string& path) const;

  bool FRecursive = true;
  bool FFullPaths = true;
  bool FRelativePaths = false;
  std::deque<QueueEntry> FFolderQueue;
  std::atomic<bool> FRunning{false};
  std::atomic<bool> FStopRequested{false};
  std::atomic<bool> FInThread{false};
  std::int64_t FFileCount = 0;
  std::int64_t FFolderCount = 0;
  std::chrono::system_clock::time_point FStartTime;
  std::chrono::system_clock::time_point FEndTime;
  std::string FSingleRoot;
  std::string FCurrentName;
  // The entry being reported, while it is.
  const TSearchRec* FCurrentSearchRec = nullptr;
  std::string FLogText;
  MainThreadQueue* FSynchronizer = nullptr;
};

// Gathers what a finder reports.
class TFileFinderCollector {
public:
  std::vector<std::string> Files;
  std::vector<std::string> Folders;
  void AddFile(const std::string& path, const TSearchRec&) { Files.push_back(path); }
  void AddFolder(const std::string& path, const TSearchRec&) { Folders.push_back(path); }
};

// Runs a finder over roots on the calling thread and appends to list the
// files it found (when files), then the folders (when folders). Does nothing
// when list is null.
void FindFiles(const std::string& roots, std::vector<std::string>* list, bool files, bool folders, bool fullPaths,
               bool recursive, bool relativePaths);
