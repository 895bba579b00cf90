#include "crashreport/zebReport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>

#include "crashreport/zebBugRepFile.h"
#include "crashreport/zebDisAsmText.h"
#include "crashreport/zebDispatch.h"
#include "crashreport/zebExceptSignals.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebMapFile.h"
#include "crashreport/zebStrings.h"
#include "crashreport/zebSysInfo.h"
#include "crashreport/zebTools.h"
#include "crashreport/zebZip.h"
#include "platform/Threads.h"

namespace zeb {

namespace {

std::atomic<std::uint64_t> exceptionCounter{0};

std::string Hex16(std::uint64_t v) { return PadText(HexText(v), 16, '0'); }
std::string DollarHex(std::uint64_t v) { return "$" + HexText(v); }

std::string LocalTimeText(std::time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, format, &tm);
  return buffer;
}

// The end of the mapping that holds the address; 0 when none does.
std::uint64_t RegionEnd(std::uint64_t address) {
  std::istringstream lines(ReadSystemFile("/proc/self/maps"));
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t dash = line.find('-');
    if (dash == std::string::npos) continue;
    const std::uint64_t from = std::strtoull(line.c_str(), nullptr, 16);
    const std::uint64_t to = std::strtoull(line.c_str() + dash + 1, nullptr, 16);
    if (address >= from && address < to) return to;
  }
  return 0;
}

// A section's lines as the report shows them: each without trailing blanks
// and control characters (leading blanks kept), an empty one as ".", so no
// empty line inside a report ever looks like the gap between two reports.
std::string SectionText(std::string text) {
  // The content is stored trimmed at both ends first.
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.pop_back();
  std::size_t first = 0;
  while (first < text.size() && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  text.erase(0, first);
  if (text.empty()) return text;
  std::string out;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ') line.pop_back();
    if (!out.empty() || pos > 0) out += "\r\n";
    out += line.empty() ? "." : line;
    if (end == text.size()) break;
    pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return out;
}

// One thread section to complete.
struct ThreadRecord {
  std::string title;
  bool exceptionThread = false;
  std::uint64_t currentAddress = 0;
  std::vector<TRawFrame> frames;  // taken while the sections are created
  std::uint64_t creatorAddress = 0;
  pid_t creatorThread = 0;
};

struct Completion {
  std::vector<ThreadRecord> threads;
  std::vector<ReportPlugin> plugins;  // own-section plug-ins, in section order
  bool cpuRegisters = false, stackDump = false, disassembly = false;
  std::function<std::string(pid_t, bool)> threadTitle;
};

std::string Title(const ReportSources& sources, pid_t tid, bool force) {
  try {
    return sources.threadTitle ? sources.threadTitle(tid, force) : DefaultThreadTitle(tid, force);
  } catch (...) {
    return force ? "thread " + DollarHex(std::uint64_t(tid)) : std::string();
  }
}

// The plug-ins the Plugins setting names, in its order: for each name the
// first registered plug-in of that name, letter case ignored.
std::vector<ReportPlugin> NamedPlugins(TIZeqException& e, const ReportSources& sources) {
  std::vector<ReportPlugin> named;
  try {
    const std::vector<ReportPlugin> plugins = sources.plugins ? sources.plugins() : StandardReportPlugins();
    const std::string list = e.Plugins();
    for (std::size_t i = 1, n = ListCount(list, '|'); i <= n; ++i) {
      const std::string name = TrimmedCopy(ListItem(list, i, '|'));
      const auto it = std::find_if(plugins.begin(), plugins.end(),
                                   [&](const ReportPlugin& p) { return SameTextIgnoringCase(p.name, name); });
      if (it != plugins.end()) named.push_back(*it);
    }
  } catch (...) {
  }
  return named;
}

TTraceOptions OptionsOf(TIZeqException& e) {
  TTraceOptions o;
  o.hideUglyItems = e.HideUglyItems();
  o.showRelAddrs = e.ShowRelAddrs();
  o.showRelLines = e.ShowRelLines();
  return o;
}

class CompletionRun {
public:
  CompletionRun(TIZeqException& e, Completion c, const std::atomic<bool>* abort)
      : e_(e), c_(std::move(c)), abort_(abort), options_(OptionsOf(e)) {}

  void Run() {
    if (!e_.ListThreads() && c_.threads.size() > 1) c_.threads.resize(1);
    pending_ = int(c_.threads.size()) + c_.cpuRegisters + c_.stackDump + c_.disassembly + int(c_.plugins.size());
    std::uint64_t function = 0, location = 0;
    if (!c_.threads.empty()) {
      if (aborted()) return;
      TTraceResult r = threadReport(c_.threads[0]);
      crc_[0] = r.firstCrc;
      crc_[1] = crc_[2] = r.chainedCrc;
      function = r.exceptionFunction;
      location = r.exceptionLocation;
      fill(c_.threads[0].title, r.text);
    }
    if (aborted()) return;
    const ucontext_t* context = e_.Context();
    if (c_.cpuRegisters) fill("cpu registers", guarded("GetCpuRegisters", [&] { return CpuRegistersText(*context); }));
    if (c_.stackDump)
      fill("stack dump", guarded("GetStackDump", [&] {
             // A thrown exception's stack was overwritten since: the copy the raise hook made.
             if (e_.ContextFromRaise())
               return StackDumpLines(std::uint64_t(context->uc_mcontext.gregs[REG_RSP]), e_.RaiseStack());
             return StackDumpText(*context);
           }));
    if (c_.disassembly)
      fill("disassembling", guarded("GetCleartextDisAsm", [&] { return Disassembly(function, location); }));
    for (const ReportPlugin& p : c_.plugins) {
      if (aborted()) return;
      fill(p.name, guarded("plugin", [&] { return p.function ? p.function(&e_) : std::string(); }));
    }
    for (std::size_t i = 1; i < c_.threads.size(); ++i) {
      if (aborted()) return;
      TTraceResult r = threadReport(c_.threads[i]);
      if (r.hasLineNumbers) {
        const std::uint8_t le[4] = {std::uint8_t(r.chainedCrc), std::uint8_t(r.chainedCrc >> 8),
                                    std::uint8_t(r.chainedCrc >> 16), std::uint8_t(r.chainedCrc >> 24)};
        crc_[2] = Crc32Update(crc_[2], le);
      }
      fill(c_.threads[i].title, r.text);
    }
  }

private:
  bool aborted() const { return abort_ && abort_->load(); }

  std::string guarded(const char* routine, const std::function<std::string()>& f) {
    try {
      return f();
    } catch (...) {
      return InternalErrorText(routine, options_.showRelAddrs, options_.showRelLines);
    }
  }

  std::string Disassembly(std::uint64_t function, std::uint64_t location) {
    if (!function || !DisAsmHook) return {};
    std::uint64_t end = 0;
    if (TMapFilePtr reader = LoadDebugInfo(function)) {
      const TMfPublic p = reader->PublicAt(function);
      if (p.valid && p.size) end = p.address + p.size;
    }
    return DisAsmHook(function, end, location, e_.FormatDisAsm(), unsigned(std::max(0, e_.LimitDisAsm())));
  }

  TTraceResult threadReport(const ThreadRecord& t) {
    TTraceResult r;
    try {
      TTraceOptions o = options_;
      o.abort = abort_;
      o.exceptionThread = t.exceptionThread;
      o.currentAddress = t.currentAddress;
      o.creatorAddress = t.creatorAddress;
      r = TraceFrames(t.frames, o);
      if (t.creatorAddress && !aborted() && !r.text.empty() && r.text[0] != '>') {
        const std::size_t last = r.text.rfind('\r');
        if (last != std::string::npos) {
          const std::string creator = c_.threadTitle ? c_.threadTitle(t.creatorThread, true) : std::string();
          r.text.insert(last, "\r\n>> created by " + creator + " at:");
        }
      }
    } catch (...) {
      r = {};
      r.text = InternalErrorText("GetThreadReport", options_.showRelAddrs, options_.showRelLines);
    }
    return r;
  }

  void fill(const std::string& name, const std::string& text) {
    if (aborted()) return;
    e_.BeginChange();
    try {
      e_.ReportSections()->Assign(name, SectionText(text));
      if (--pending_ == 0) {
        std::string crc;
        for (int i = 0; i < 3; ++i) {
          e_.SetCallstackCrc(i, crc_[i]);
          crc += (i ? ", $" : "$") + PadText(HexText(crc_[i]), 8, '0');
        }
        e_.ReportHeader()->Assign("callstack crc", crc);
      }
    } catch (...) {
    }
    e_.EndChange();
  }

  TIZeqException& e_;
  Completion c_;
  const std::atomic<bool>* abort_;
  TTraceOptions options_;
  int pending_ = 0;
  std::uint32_t crc_[3] = {0, 0, 0};
};

}  // namespace

std::uint64_t ExceptionCount() { return exceptionCounter.load(); }

std::string DefaultThreadTitle(pid_t tid, bool force) {
  (void)force;
  const std::string id = DollarHex(std::uint64_t(tid));
  if (tid == getpid()) return "main thread (" + id + ")";
  std::string name = TrimmedCopy(ReadSystemFile("/proc/self/task/" + std::to_string(tid) + "/comm"));
  const std::string program = TrimmedCopy(ReadSystemFile("/proc/self/comm"));
  if (!name.empty() && name != program) return name + " (" + id + ")";
  return "thread " + id;
}

std::vector<ThreadSnapshot> ProcessThreads() {
  std::vector<ThreadSnapshot> threads;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return threads;
  while (dirent* e = readdir(dir)) {
    const long tid = std::strtol(e->d_name, nullptr, 10);
    if (tid > 0) {
      ThreadSnapshot t;
      t.tid = pid_t(tid);
      threads.push_back(t);
    }
  }
  closedir(dir);
  std::sort(threads.begin(), threads.end(), [](const ThreadSnapshot& a, const ThreadSnapshot& b) { return a.tid < b.tid; });
  return threads;
}

void ComposeReportHeader(TIZeqException& e, const ReportSources& sources) {
  (void)sources;
  if (!e.CreateBugReport()) return;
  IZeqFields header = e.ReportHeader();
  if (header->Count() > 0) return;
  std::vector<std::pair<std::string, std::string>> items;
  items.reserve(64);
  auto add = [&](const std::string& name, const std::function<std::string()>& value) {
    try {
      items.emplace_back(name, value());
    } catch (...) {
    }
  };
  add("date/time", [] {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    return LocalTimeText(std::chrono::system_clock::to_time_t(now), "%Y-%m-%d, %H:%M:%S, ") + DecimalText(ms) + "ms";
  });
  add("computer name", [] { return ComputerName(); });
  add("user name", [] { return UserNameText() + (UserIsAdministrator() ? "  <admin>" : ""); });
  add("operating system", [] { return OsVersionText(); });
  add("system language", [] { return OsLanguageText(); });
  add("system up time", [] { return SystemUpTimeText(); });
  add("program up time", [] { return ProgramUpTimeText(); });
  try {
    const std::string cpu = ProcessorName();
    const int n = ProcessorCount();
    if (!cpu.empty()) items.emplace_back(n > 1 ? "processors" : "processor", n > 1 ? DecimalText(n) + "x " + cpu : cpu);
  } catch (...) {
  }
  add("physical memory", [] { return MemoryStatusText(); });
  add("free disk space", [] { return FreeDiskSpaceText(); });
  add("display mode", [] { return DisplayModeText(); });
  add("process id", [] { return DollarHex(std::uint64_t(getpid())); });
  add("allocated memory", [] { return AllocatedMemoryText(); });
  add("command line", [] { return CommandLineText(); });
  add("executable", [] { return ProgramFileName(); });
  add("exec. date/time", [] {
    struct stat st {};
    return ::stat("/proc/self/exe", &st) == 0 ? LocalTimeText(st.st_mtime, "%Y-%m-%d %H:%M") : std::string();
  });
  add("version", [&] {
    const std::string text = e.VersionText();
    if (!text.empty()) return text;
    const std::uint64_t v = FileVersion();
    return v ? FileVersionText(v) : std::string();
  });
  add("compiled with", [] { return CompilerText(); });
  add("zebExcept version", [] { return std::string("3.0h"); });
  for (const ReportPlugin& p : NamedPlugins(e, sources))
    if (!p.ownSection) add(p.name, [&] { return p.function ? p.function(&e) : std::string(); });
  const int crcIndex = int(items.size());
  items.emplace_back("callstack crc", "will be calculated soon");
  items.emplace_back("exception number", DecimalText(std::int64_t(++exceptionCounter)));
  if (e.Kind() == ExceptionKind::Frozen) {
    add("exception message", [&] { return e.FrozenMsg(); });
  } else {
    add("exception class", [&] { return e.ClassName(); });
    add("exception message", [&] {
      const std::string message = e.Message();
      if (message == e.ClassName()) return std::string();
      std::string text = AsSentence(message);
      for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
      while (ReplaceAll(text, "  ", " ", false, false)) {
      }
      return text;
    });
  }
  e.BeginChange();
  header->BeginAccess();
  header->AllowData();
  for (auto& [name, value] : items) {
    // A header line is one line: breaks become blanks, runs of blanks one.
    if (value.find_first_of("\r\n") != std::string::npos) {
      for (char& ch : value)
        if (ch == '\r' || ch == '\n') ch = ' ';
      while (ReplaceAll(value, "  ", " ", false, false)) {
      }
    }
    header->Assign(name, value);
  }
  // Items added later stand before the checksums.
  const int at = header->IndexOfName("callstack crc");
  header->SetInsertPosition(at >= 0 ? at : crcIndex);
  header->EndAccess();
  e.EndChange();
}

bool CreateReportSections(TIZeqException& e, const ReportSources& sources, bool onOwnThread,
                          const std::atomic<bool>* abort) {
  if (!e.CreateBugReport()) return false;
  IZeqFields sections = e.ReportSections();
  if (sections->Count() > 0) return false;
  Completion c;
  std::vector<std::pair<std::string, std::string>> placeholders;
  const std::string soon = ">> will be calculated soon";

  std::vector<ThreadSnapshot> snapshots;
  try {
    snapshots = sources.threads ? sources.threads() : ProcessThreads();
  } catch (...) {
  }
  struct Release {
    const ReportSources& sources;
    ~Release() {
      try {
        if (sources.releaseThreads) sources.releaseThreads();
      } catch (...) {
      }
    }
  } release{sources};
  auto snapshotOf = [&](pid_t tid) -> const ThreadSnapshot* {
    for (const ThreadSnapshot& s : snapshots)
      if (s.tid == tid) return &s;
    return nullptr;
  };
  const pid_t mainThread = sources.mainThread ? sources.mainThread : getpid();
  const bool frozen = e.Kind() == ExceptionKind::Frozen;
  const TTraceOptions options = OptionsOf(e);

  auto addThread = [&](pid_t tid, bool exceptionThread) {
    std::string title = Title(sources, tid, exceptionThread);
    if (title.empty()) return;
    std::string content;
    try {
      const std::uint64_t address = exceptionThread ? e.ExceptionAddress() : 0;
      content = ">> stack not accessible";
      if (exceptionThread)
        content += ", exception location: \r\n" + FormatStackAddress(address, options.showRelAddrs, options.showRelLines);
      const ThreadSnapshot* snapshot = snapshotOf(tid);
      ThreadRecord record;
      record.exceptionThread = exceptionThread;
      record.currentAddress = address;
      bool walked = false;
      if (exceptionThread && e.Context() && !e.ContextFromRaise()) {
        record.frames = UnwindFrames(RegistersFromContext(*e.Context()), 256);
        walked = true;
      } else if (exceptionThread && !sources.preparedStack.empty()) {
        if (address) record.frames.push_back({address, true});
        for (std::uint64_t a : sources.preparedStack)
          if (a) record.frames.push_back({a, false});
        walked = true;
      } else if (snapshot && snapshot->registers) {
        record.frames = UnwindFrames(*snapshot->registers, 256);
        walked = true;
      } else if (!exceptionThread && sources.captureRegisters) {
        // Walked while the capture holds the thread.
        if (const std::optional<TThreadRegisters> registers = sources.captureRegisters(tid)) {
          record.frames = UnwindFrames(*registers, 256);
          walked = true;
        }
      }
      if (snapshot) {
        if (snapshot->suspended) title += " <suspended>";
        if (snapshot->priority != 0) title += " <priority:" + DecimalText(snapshot->priority) + ">";
        record.creatorAddress = snapshot->creatorAddress;
        record.creatorThread = snapshot->creatorThread;
      }
      if (walked) {
        record.title = title;
        c.threads.push_back(std::move(record));
        content = (exceptionThread && address
                       ? FormatStackAddress(address, options.showRelAddrs, options.showRelLines) + "\r\n"
                       : std::string()) +
                  ">> stack will be calculated soon";
      }
    } catch (...) {
      content = InternalErrorText("GetThreadStack", options.showRelAddrs, options.showRelLines);
    }
    placeholders.emplace_back(title, content);
  };

  if (frozen) {
    addThread(mainThread, false);
  } else {
    addThread(e.ThreadId(), true);
    if (e.ThreadId() != mainThread) addThread(mainThread, false);
  }
  if (e.ListThreads())
    for (const ThreadSnapshot& s : snapshots) {
      if ((s.tid == e.ThreadId() && !frozen) || s.tid == mainThread) continue;
      if (s.tid == sources.handlingThread || s.tid == sources.watchdogThread) continue;
      addThread(s.tid, false);
    }

  for (const ReportPlugin& p : NamedPlugins(e, sources))
    if (p.ownSection) {
      c.plugins.push_back(p);
      placeholders.emplace_back(p.name, soon);
    }
  if (e.Context()) {
    c.cpuRegisters = e.CpuRegs();
    c.stackDump = e.StackDump();
    if (c.cpuRegisters) placeholders.emplace_back("cpu registers", soon);
    if (c.stackDump) placeholders.emplace_back("stack dump", soon);
  }
  if (e.ShowDisAsm() && DisAsmHook) {
    c.disassembly = true;
    placeholders.emplace_back("disassembling", soon);
  }

  e.BeginChange();
  sections->BeginAccess();
  sections->AllowData();
  for (const auto& [name, content] : placeholders) sections->Assign(name, content);
  sections->EndAccess();
  e.EndChange();

  // The titles the completion needs for creators are taken now as well.
  auto titles = std::make_shared<std::vector<std::pair<pid_t, std::string>>>();
  for (const ThreadRecord& t : c.threads)
    if (t.creatorThread) titles->emplace_back(t.creatorThread, Title(sources, t.creatorThread, true));
  c.threadTitle = [titles](pid_t tid, bool) {
    for (const auto& [id, title] : *titles)
      if (id == tid) return title;
    return "thread " + DollarHex(std::uint64_t(tid));
  };

  if (onOwnThread) {
    auto shared = std::make_shared<Completion>(std::move(c));
    e.StartCompletion([shared](TIZeqException& object, const std::atomic<bool>& abort) {
      CompletionRun(object, std::move(*shared), &abort).Run();
    });
  } else {
    CompletionRun(e, std::move(c), abort).Run();
    if (!abort) e.MarkComplete();
  }
  return true;
}

void ComposeReport(TIZeqException& e, const ReportSources& sources, bool completeOnOwnThread,
                   const std::atomic<bool>* abort) {
  ComposeReportHeader(e, sources);
  CreateReportSections(e, sources, completeOnOwnThread, abort);
}

std::string CpuRegistersText(const ucontext_t& context) {
  const greg_t* g = context.uc_mcontext.gregs;
  const std::pair<const char*, int> registers[] = {
      {"rax", REG_RAX}, {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI}, {"rdi", REG_RDI},
      {"r8", REG_R8},   {"r9", REG_R9},   {"r10", REG_R10}, {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13},
      {"r14", REG_R14}, {"r15", REG_R15}, {"rip", REG_RIP}, {"rsp", REG_RSP}, {"rbp", REG_RBP},
  };
  std::string text;
  for (const auto& [name, index] : registers) {
    if (!text.empty()) text += "\r\n";
    // Names padded to three characters, so that " = " and the values stand
    // in columns ("r8  = ").
    std::string padded(name);
    padded.resize(3, ' ');
    text += padded + " = " + Hex16(std::uint64_t(g[index]));
  }
  return text;
}

std::string StackDumpLines(std::uint64_t address, std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size() && at < kStackDumpLines * 16; at += 16) {
    const std::size_t valid = std::min<std::size_t>(16, bytes.size() - at);
    const std::uint8_t* b = bytes.data() + at;
    std::string line = Hex16(address + at) + "  ";
    for (std::size_t i = 0; i < 16; ++i) {
      if (i == 8) line += i < valid ? "- " : "  ";
      line += i < valid ? PadText(HexText(b[i]), 2, '0') + " " : "   ";
    }
    line += " ";
    for (std::size_t i = 0; i < valid; ++i) line += b[i] >= 33 && b[i] <= 126 ? char(b[i]) : '.';
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

std::string StackDumpOf(std::uint64_t stackPointer, std::uint64_t regionEnd) {
  // Read a line at a time: the dump ends at the first line that cannot be read.
  std::uint8_t bytes[kStackDumpLines * 16];
  std::size_t size = 0;
  while (size < sizeof bytes) {
    const std::uint64_t lineAddress = stackPointer + size;
    if (regionEnd && lineAddress >= regionEnd) break;
    std::size_t valid = 16;
    if (regionEnd && regionEnd - lineAddress < 16) valid = std::size_t(regionEnd - lineAddress);
    if (!ReadOwnMemory(lineAddress, bytes + size, valid)) break;
    size += valid;
  }
  return StackDumpLines(stackPointer, {bytes, size});
}

std::string StackDumpText(const ucontext_t& context) {
  const std::uint64_t rsp = std::uint64_t(context.uc_mcontext.gregs[REG_RSP]);
  return StackDumpOf(rsp, RegionEnd(rsp));
}

ReportSources RunningReporterSources(TIZeqException& exception, bool keepReporterThreads) {
  ReportSources sources;
  sources.mainThread = MainThreadId();
  sources.handlingThread = keepReporterThreads ? 0 : ExceptionThreadId();
  sources.preparedStack.assign(exception.PreparedStack().begin(), exception.PreparedStack().end());
  sources.threadTitle = [keepReporterThreads](pid_t tid, bool force) {
    return platform::ThreadTitle(tid, force || keepReporterThreads);
  };
  const pid_t self = platform::CurrentThreadId();
  sources.threads = [self, &exception, keepReporterThreads] {
    std::vector<ThreadSnapshot> threads;
    for (pid_t tid : platform::ListProcessThreads()) {
      // The reporter's own threads are no part of the report, except in a
      // trace; the thread walking the stacks never is.
      if (tid == self || (!keepReporterThreads && IsReporterThread(tid) && tid != exception.ThreadId())) continue;
      ThreadSnapshot t;
      t.tid = tid;
      if (const std::optional<platform::ThreadEntry> entry = platform::FindThread(tid)) {
        t.creatorAddress = entry->creatorAddress;
        t.creatorThread = entry->creatorThreadId;
      }
      threads.push_back(t);
    }
    return threads;
  };
  sources.captureRegisters = [](pid_t tid) -> std::optional<TThreadRegisters> {
    ucontext_t context;
    if (!CaptureThreadContext(tid, context, std::chrono::milliseconds(250))) return std::nullopt;
    return RegistersFromContext(context);
  };
  sources.releaseThreads = [] { ReleaseCapturedThreads(); };
  return sources;
}

void InstallReportComposer() {
  InstallDebugInfoHooks();
  SetReportComposer([](TIZeqException& exception, const std::atomic<bool>& abort) {
    ComposeReport(exception, RunningReporterSources(exception), false, &abort);
  });
  SetAutomaticSave([](IZeqException& exception) {
    WriteBugReportFile("", exception.ReportText(true), true, exception);
  });
}

}  // namespace zeb
