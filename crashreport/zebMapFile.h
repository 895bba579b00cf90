#pragma once

// Debug information of the program's loaded files: units (the compiled
// source files and their code ranges), public symbols (function symbols with
// their sizes) and line numbers, read through libdw from the files mapped
// into this process and from their separate debug files (found by build id).
// The same process view carries the call-frame tables the call-stack walker
// unwinds with.
//
// Readers are made per module file and cached by path and modification time;
// a reader answers every lookup from the file's own data and never touches
// the process's memory, so a corrupt process does not fault it.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

typedef struct Dwfl Dwfl;
typedef struct Dwfl_Module Dwfl_Module;

namespace zeb {

class TMapFile;

struct TMfSegment {
  bool valid = false;
  bool code = true;
  std::uint64_t start = 0;   // absolute, run-time address
  std::uint64_t length = 0;
  std::string unitName;      // the compilation unit's file name, without folder
  bool hasLineNumbers = false;
};

struct TMfPublic {
  bool valid = false;
  bool code = true;
  std::string name;          // as stored (mangled)
  std::uint64_t address = 0; // absolute, run-time address
  std::uint64_t size = 0;
  bool global = false;
};

// The libdw view of this process: every file of /proc/self/maps, reported at
// its load address. One lock serialises all use of it (libdw is not
// thread-safe); readers and the walker take it through Lock().
class ProcessDebugView : public std::enable_shared_from_this<ProcessDebugView> {
public:
  ProcessDebugView();
  ~ProcessDebugView();
  ProcessDebugView(const ProcessDebugView&) = delete;
  ProcessDebugView& operator=(const ProcessDebugView&) = delete;

  bool IsValid() const { return dwfl_ != nullptr; }
  Dwfl* Handle() const { return dwfl_; }
  // The module holding a run-time address, null when none.
  Dwfl_Module* ModuleAt(std::uint64_t address) const;
  std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock(lock_); }
  // The signature of the module list it was made from.
  const std::string& Signature() const { return signature_; }
  // The reader of the module holding the address, made on first use and
  // remade when the file's modification time changed; null when the address
  // lies in no file. It keeps the view alive.
  std::shared_ptr<const TMapFile> ReaderAt(std::uint64_t address);
  // The walker attaches its thread callbacks once per view.
  bool Attached() const { return attached_; }
  void SetAttached() { attached_ = true; }

private:
  bool attached_ = false;
  struct CachedReader {
    std::int64_t mtime = 0;
    std::unique_ptr<TMapFile> reader;
  };
  std::map<Dwfl_Module*, CachedReader> readers_;
  Dwfl* dwfl_ = nullptr;
  std::string signature_;
  mutable std::recursive_mutex lock_;
};

// The current view; made anew when the set of mapped files has changed since
// the last one.
std::shared_ptr<ProcessDebugView> CurrentDebugView();

class TMapFile {
public:
  // Use LoadDebugInfo.
  TMapFile(ProcessDebugView& view, Dwfl_Module* module, std::string path);

  bool Valid() const { return valid_; }
  const std::string& ModuleFileName() const { return path_; }
  std::uint64_t CodeStart() const { return codeStart_; }
  std::uint64_t CodeEnd() const { return codeEnd_; }
  // The build id of the module (lower-case hexadecimal), empty when none.
  const std::string& BuildId() const { return buildId_; }

  // The unit whose code holds the address.
  TMfSegment SegmentAt(bool code, std::uint64_t address) const;
  // The function symbol whose extent holds the address (its size, or up to
  // the next symbol when it has none).
  TMfPublic PublicAt(std::uint64_t address) const;
  // The source line of the address; 0 when unknown. nextLineStart receives
  // the address where the following line begins (address + 1 when unknown).
  int LineAt(std::uint64_t address, std::uint64_t* nextLineStart = nullptr) const;
  // The address of the first public of the unit named `unit` (without
  // folder, letter case ignored) that is named `name`; without a "." in the
  // unit, ".cpp", ".h" and ".c" are tried too. 0 when none.
  std::uint64_t PublicByName(bool code, std::string_view unit, bool caseSensitive, std::string_view name) const;

  const std::vector<TMfPublic>& Publics() const { return publics_; }

private:
  ProcessDebugView& view_;
  Dwfl_Module* module_ = nullptr;
  std::string path_;
  std::string buildId_;
  bool valid_ = false;
  std::uint64_t codeStart_ = 0, codeEnd_ = 0;
  std::vector<TMfPublic> publics_;  // sorted by address
};

using TMapFilePtr = std::shared_ptr<const TMapFile>;

// The reader of the module holding the address (the module holding the crash
// reporter for 0); null when the address lies in no mapped file.
TMapFilePtr LoadDebugInfo(std::uint64_t address);

struct TAddressInfo {
  bool found = false;
  std::string moduleFileName;  // full path
  std::string unitName;
  int line = 0;
  std::uint64_t publicAddress = 0;
  std::string publicName;      // demangled
};
TAddressInfo AddressInfo(std::uint64_t address);

// The demangled name of the public that starts exactly at the address.
std::string ProcNameAt(std::uint64_t address);

// Keeps `line` while the address lies in [rangeStart, rangeEnd); otherwise
// looks it up (0 when unknown) and sets the range to [address, next line).
void LineNumberAt(std::uint64_t address, int& line, std::uint64_t& rangeStart, std::uint64_t& rangeEnd);

// Installs the name, module and line hooks of the disassembly listing.
void InstallDebugInfoHooks();

}  // namespace zeb
