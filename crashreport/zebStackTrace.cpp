#include "crashreport/zebStackTrace.h"

#include <elfutils/libdwfl.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "crashreport/zebExcept.h"
#include "crashreport/zebMapFile.h"
#include "crashreport/zebStackScan.h"
#include "crashreport/zebStrings.h"
#include "crashreport/zebTools.h"
#include "crashreport/zebZip.h"

namespace zeb {

bool ReadOwnMemory(std::uint64_t address, void* destination, std::size_t count) {
  if (address == 0 || count == 0) return false;
  static const pid_t self = getpid();
  iovec local{destination, count};
  iovec remote{reinterpret_cast<void*>(address), count};
  const ssize_t n = process_vm_readv(self, &local, 1, &remote, 1, 0);
  if (n == ssize_t(count)) return true;
  if (n < 0 && (errno == ENOSYS || errno == EPERM)) {
    // A seccomp filter may refuse the call; the memory file reads the same.
    static const int mem = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    return mem >= 0 && pread(mem, destination, count, off_t(address)) == ssize_t(count);
  }
  return false;
}

namespace {

// The ucontext slots of the registers in DWARF order.
constexpr int kContextSlots[17] = {REG_RAX, REG_RDX, REG_RCX, REG_RBX, REG_RSI, REG_RDI, REG_RBP, REG_RSP, REG_R8,
                                   REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15, REG_RIP};

}  // namespace

TThreadRegisters RegistersFromContext(const ucontext_t& context) {
  const greg_t* g = context.uc_mcontext.gregs;
  TThreadRegisters r;
  for (int i = 0; i < 17; ++i) r.regs[i] = std::uint64_t(g[kContextSlots[i]]);
  return r;
}

ucontext_t ContextFromRegisters(const TThreadRegisters& registers) {
  ucontext_t context{};
  for (int i = 0; i < 17; ++i) context.uc_mcontext.gregs[kContextSlots[i]] = greg_t(registers.regs[i]);
  return context;
}

__attribute__((noinline)) TThreadRegisters CurrentThreadRegisters() {
  ucontext_t context;
  getcontext(&context);
  return RegistersFromContext(context);
}

namespace {

// The registers the next unwind starts from. The callbacks run on the thread
// that unwinds, and two views (an old one still in use and its successor)
// may unwind at once.
struct WalkState {
  const TThreadRegisters* registers = nullptr;
};
thread_local WalkState walkState;

pid_t NextThread(Dwfl*, void*, void** threadArg) {
  if (*threadArg) return 0;
  *threadArg = &walkState;
  return getpid();
}

bool GetThread(Dwfl*, pid_t, void*, void** threadArg) {
  *threadArg = &walkState;
  return true;
}

bool MemoryRead(Dwfl*, Dwarf_Addr address, Dwarf_Word* result, void*) {
  return ReadOwnMemory(address, result, sizeof *result);
}

bool SetInitialRegisters(Dwfl_Thread* thread, void* arg) {
  const WalkState* state = static_cast<const WalkState*>(arg);
  if (!state || !state->registers) return false;
  Dwarf_Word regs[17];
  for (int i = 0; i < 17; ++i) regs[i] = state->registers->regs[i];
  return dwfl_thread_state_registers(thread, 0, 17, regs);
}

const Dwfl_Thread_Callbacks kThreadCallbacks = {NextThread, GetThread, MemoryRead, SetInitialRegisters,
                                                nullptr,    nullptr};

struct FrameCollector {
  std::vector<TRawFrame>* frames;
  std::size_t maxFrames;
  const std::atomic<bool>* abort;
};

int CollectFrame(Dwfl_Frame* frame, void* arg) {
  auto* c = static_cast<FrameCollector*>(arg);
  if (c->abort && c->abort->load()) return DWARF_CB_ABORT;
  Dwarf_Addr pc = 0;
  bool activation = false;
  if (!dwfl_frame_pc(frame, &pc, &activation) || pc == 0) return DWARF_CB_ABORT;
  // A frame that repeats the previous one exactly makes no progress.
  if (!c->frames->empty() && c->frames->back().pc == pc && c->frames->size() > 1 &&
      (*c->frames)[c->frames->size() - 2].pc == pc)
    return DWARF_CB_ABORT;
  c->frames->push_back({pc, activation});
  return c->frames->size() >= c->maxFrames ? DWARF_CB_ABORT : DWARF_CB_OK;
}

std::string Hex16(std::uint64_t v) { return PadText(HexText(v), 16, '0'); }
std::string LowerHex(std::uint64_t v) { return HexText(v); }

}  // namespace

std::vector<TRawFrame> UnwindFrames(const TThreadRegisters& registers, std::size_t maxFrames,
                                    const std::atomic<bool>* abort) {
  std::vector<TRawFrame> frames;
  std::shared_ptr<ProcessDebugView> view = CurrentDebugView();
  if (!view || !view->IsValid()) return frames;
  auto lock = view->Lock();
  if (!view->Attached()) {
    if (!dwfl_attach_state(view->Handle(), nullptr, getpid(), &kThreadCallbacks, nullptr)) return frames;
    view->SetAttached();
  }
  walkState.registers = &registers;
  FrameCollector collector{&frames, std::max<std::size_t>(maxFrames, 1), abort};
  dwfl_getthread_frames(view->Handle(), getpid(), CollectFrame, &collector);
  walkState.registers = nullptr;
  if (frames.empty() && registers.Rip() != 0) frames.push_back({registers.Rip(), true});
  ExtendByStackScan(view->Handle(), frames, registers, maxFrames);  // code without unwind entries
  return frames;
}

void RemoveRecursiveAreas(std::vector<TRawFrame>& frames) {
  // Work oldest first, as the repeated blocks are searched towards the older
  // end: a block that equals the block right before it goes.
  std::vector<TRawFrame> a(frames.rbegin(), frames.rend());
  bool changed = true;
  while (changed) {
    changed = false;
    for (std::size_t i = a.size(); i-- > 1;) {
      std::size_t k = i;
      while (k-- > 0)
        if (a[k].pc == a[i].pc) break;
      if (k == std::size_t(-1) || a[k].pc != a[i].pc) continue;
      const std::size_t j = i - k - 1;
      if (k < j) continue;
      bool same = true;
      for (std::size_t m = 0; m < j && same; ++m) same = a[k + 1 + m].pc == a[k - j + m].pc;
      if (!same) continue;
      // The younger copy: the candidate and the j before it.
      a.erase(a.begin() + std::ptrdiff_t(k + 1), a.begin() + std::ptrdiff_t(i + 1));
      changed = true;
      break;
    }
  }
  frames.assign(a.rbegin(), a.rend());
}

std::vector<TResolvedFrame> ResolveFrames(const std::vector<TRawFrame>& frames, bool showRelLines) {
  std::vector<TResolvedFrame> out;
  TDATryRead guard = ReadGuardStart();
  // One view for all frames: the mappings are read once per trace.
  const std::shared_ptr<ProcessDebugView> view = CurrentDebugView();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const TRawFrame& f = frames[i];
    TResolvedFrame r;
    r.final = i == 0;
    std::uint64_t probe = f.pc;
    r.address = f.pc;
    if (!f.exact) {
      CodeInfo call;
      if (FollowsCall(f.pc, guard, &call)) {
        r.address = call.address;
        probe = call.address;
      } else {
        probe = f.pc - 1;
      }
    }
    TMapFilePtr reader = view ? view->ReaderAt(probe) : nullptr;
    if (!reader) {
      r.moduleName = "???";
      out.push_back(std::move(r));
      continue;
    }
    r.moduleName = FileNameOf(reader->ModuleFileName());
    const TMfPublic p = reader->PublicAt(probe);
    if (p.valid) {
      r.functionStart = p.address;
      r.functionName = p.name;
      std::string unit;
      if (UnmangleExportName(r.functionName, unit) && !unit.empty()) r.functionName = unit + "::" + r.functionName;
    }
    r.unitName = reader->SegmentAt(true, probe).unitName;
    const int line = reader->LineAt(probe);
    r.line = std::max(0, line);
    if (showRelLines && line > 0 && p.valid) {
      // A line above the function's first comes from code inlined from
      // elsewhere: it shows as it is, without a distance.
      const int startLine = reader->LineAt(p.address);
      if (startLine > 0 && line >= startLine) {
        r.absoluteLine = line;
        r.line = line - startLine;
        r.lineIsDistance = true;
      }
    }
    out.push_back(std::move(r));
  }
  return out;
}

TTraceResult ComposeResult(const std::vector<TResolvedFrame>& frames, const TTraceOptions& options) {
  TTraceResult result;
  std::vector<const TResolvedFrame*> shown;
  for (const TResolvedFrame& f : frames) {
    const bool show = f.final || f.creator || (!f.functionName.empty() && (f.line > 0 || !options.hideUglyItems));
    if (!show) continue;
    if (!shown.empty() && shown.back()->address == f.address) continue;
    shown.push_back(&f);
  }
  if (shown.empty()) return result;
  auto offsetOf = [](const TResolvedFrame& f) -> std::uint64_t {
    return f.functionStart && f.functionStart < f.address ? f.address - f.functionStart : 0;
  };
  std::size_t offsetWidth = 0, moduleWidth = 0, unitWidth = 0, absWidth = 0, lineWidth = 0;
  bool anyOffset = false;
  auto lineText = [](const TResolvedFrame& f) -> std::string {
    if (f.line == 0 && f.absoluteLine == 0 && !f.lineIsDistance) return {};
    return (f.lineIsDistance ? "+" : "") + DecimalText(f.line);
  };
  for (const TResolvedFrame* f : shown) {
    if (offsetOf(*f)) anyOffset = true;
    offsetWidth = std::max(offsetWidth, LowerHex(offsetOf(*f)).size());
    moduleWidth = std::max(moduleWidth, f->moduleName.size());
    unitWidth = std::max(unitWidth, f->unitName.size());
    if (f->absoluteLine > 0) absWidth = std::max(absWidth, DecimalText(f->absoluteLine).size());
    lineWidth = std::max(lineWidth, lineText(*f).size());
  }
  const bool offsets = options.showRelAddrs && anyOffset;
  std::uint32_t chained = 0;
  bool first = true;
  // Without line numbers (a release build, a stripped program with only its
  // symbol table) the first frame with a line is a system library's: the
  // program's own frames come first.
  const std::string ownModule = options.ownModule.empty() ? ProgramFileName() : options.ownModule;
  const TResolvedFrame* own = nullptr;
  const TResolvedFrame* withLine = nullptr;
  const TResolvedFrame* withFunction = nullptr;
  for (const TResolvedFrame* f : shown) {
    std::string line = Hex16(f->address) + " ";
    if (offsets) line += "+" + PadText(LowerHex(offsetOf(*f)), int(offsetWidth), '0') + " ";
    line += PadText(f->moduleName, -int(moduleWidth + 1), ' ');
    line += PadText(f->unitName, -int(unitWidth + 1), ' ');
    if (absWidth > 0) line += PadText(f->absoluteLine > 0 ? DecimalText(f->absoluteLine) : "", int(absWidth), ' ') + " ";
    if (lineWidth > 0) line += PadText(lineText(*f), int(lineWidth), ' ') + " ";
    line += f->functionName;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!result.text.empty()) result.text += "\r\n";
    result.text += line;

    std::uint32_t crc;
    if (f->functionStart && f->moduleName != "???" && !f->moduleName.empty() && !f->functionName.empty()) {
      auto bytes = [](const std::string& s) {
        return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
      };
      crc = std::uint32_t(offsetOf(*f));
      crc = Crc32Update(crc, bytes(LowerText(f->moduleName)));
      if (!f->unitName.empty()) crc = Crc32Update(crc, bytes(LowerText(f->unitName)));
      crc = Crc32Update(crc, bytes(LowerText(f->functionName)));
    } else {
      crc = std::uint32_t(f->address);
    }
    if (first) {
      result.firstCrc = chained = crc;
      first = false;
    } else {
      const std::uint8_t le[4] = {std::uint8_t(crc), std::uint8_t(crc >> 8), std::uint8_t(crc >> 16),
                                  std::uint8_t(crc >> 24)};
      chained = Crc32Update(chained, le);
    }
    if (f->line > 0) result.hasLineNumbers = true;
    if (f->functionStart) {
      if (!own && !ownModule.empty() && f->moduleName == ownModule) own = f;
      if (!withLine && (f->absoluteLine > 0 || f->line > 0)) withLine = f;
      if (!withFunction) withFunction = f;
    }
    if (options.wantItems)
      result.items.push_back({f->address, offsetOf(*f), f->moduleName, f->unitName, f->absoluteLine,
                              f->absoluteLine == 0 && f->line <= 0 ? 0 : f->line, f->functionName});
  }
  result.chainedCrc = chained;
  result.exceptionAddress = frames.empty() ? 0 : frames.front().address;
  const TResolvedFrame* location = own;
  if (!location && shown.front()->final && shown.front()->functionStart) location = shown.front();
  if (!location) location = withLine ? withLine : withFunction;
  if (location) {
    result.exceptionFunction = location->functionStart;
    result.exceptionLocation = location->address;
  }
  return result;
}

namespace {

bool Aborted(const TTraceOptions& o) { return o.abort && o.abort->load(); }

// Runs the phases from collected frames; a failing phase names itself.
TTraceResult Finish(std::vector<TRawFrame> frames, const TTraceOptions& options, bool prepared) {
  TTraceResult result;
  const char* phase = "CollectPossibleStackItems";
  try {
    if (options.leaveOutTop && !frames.empty() && !prepared) frames.erase(frames.begin());
    if (options.creatorAddress) frames.push_back({options.creatorAddress, true});
    if (Aborted(options)) return {};
    phase = "RemoveRecursiveStackAreas";
    RemoveRecursiveAreas(frames);
    if (Aborted(options)) return {};
    phase = "FillFinalOutput";
    std::vector<TResolvedFrame> resolved = ResolveFrames(frames, options.showRelLines);
    if (options.creatorAddress && !resolved.empty()) resolved.back().creator = true;
    if (Aborted(options)) return {};
    phase = "ComposeResult";
    result = ComposeResult(resolved, options);
  } catch (...) {
    result = {};
    result.text = InternalErrorText(phase, options.showRelAddrs, options.showRelLines);
    if (options.exceptionThread)
      result.text += "\r\n>> original exception location: \r\n" +
                     FormatStackAddress(options.currentAddress, options.showRelAddrs, options.showRelLines);
  }
  return result;
}

}  // namespace

TTraceResult TraceStack(const TThreadRegisters& registers, const TTraceOptions& options) {
  std::vector<TRawFrame> frames;
  try {
    frames = UnwindFrames(registers, options.maxFrames, options.abort);
  } catch (...) {
  }
  if (Aborted(options)) return {};
  return Finish(std::move(frames), options, false);
}

TTraceResult TraceFrames(std::vector<TRawFrame> frames, const TTraceOptions& options) {
  return Finish(std::move(frames), options, false);
}

TTraceResult TracePreparedStack(std::uint64_t exceptionAddress, const std::vector<std::uint64_t>& returnAddresses,
                                const TTraceOptions& options) {
  std::vector<TRawFrame> frames;
  if (exceptionAddress && !options.leaveOutTop) frames.push_back({exceptionAddress, true});
  for (std::uint64_t a : returnAddresses) {
    if (frames.size() >= options.maxFrames) break;
    if (a) frames.push_back({a, false});
  }
  return Finish(std::move(frames), options, true);
}

std::string FormatStackAddress(std::uint64_t address, bool showRelAddrs, bool showRelLines) {
  std::string text = Hex16(address);
  TMapFilePtr reader = address ? LoadDebugInfo(address) : nullptr;
  const TMfPublic p = reader ? reader->PublicAt(address) : TMfPublic{};
  if (!reader || !p.valid) return text + (showRelAddrs ? " +0" : "") + " ???";
  if (showRelAddrs) text += " +" + LowerHex(address - p.address);
  text += " " + FileNameOf(reader->ModuleFileName()) + " " + reader->SegmentAt(true, address).unitName + " ";
  const int line = reader->LineAt(address);
  if (line > 0) text += DecimalText(line) + " ";
  if (showRelLines) {
    const int start = reader->LineAt(p.address);
    text += "+" + DecimalText(std::max(0, line) - std::max(0, start)) + " ";
  }
  std::string name = p.name, unit;
  if (UnmangleExportName(name, unit) && !unit.empty()) name = unit + "::" + name;
  return text + name;
}

std::string InternalErrorText(std::string_view routine, bool showRelAddrs, bool showRelLines,
                              std::uint64_t exceptionAddress) {
  std::string text = ">> internal error in " + std::string(routine);
  if (exceptionAddress) text += ":\r\n" + FormatStackAddress(exceptionAddress, showRelAddrs, showRelLines);
  return text;
}

}  // namespace zeb
