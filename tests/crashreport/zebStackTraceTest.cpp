// The call-stack walker on stacks whose frames the test knows: a thread parked
// three calls deep (its registers captured by a signal, as the reporter gets
// them), the calling thread itself, a recorded list of return addresses, and
// registers that point nowhere.

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>

#include "crashreport/zebExcept.h"
#include "crashreport/zebMapFile.h"
#include "crashreport/zebStackTrace.h"
#include "crashreport/zebStrings.h"

using namespace zeb;

namespace {

int levelLines[3];
int readFd = -1;
// Called through a pointer, so no inline wrapper of the C library puts its
// own line on the call.
ssize_t (*volatile readCall)(int, void*, std::size_t) = &read;

__attribute__((noinline)) int ParkedLevel3(int v) {
  char c = 0;
  levelLines[2] = __LINE__ + 1;
  const ssize_t n = readCall(readFd, &c, 1);
  asm volatile("" : "+r"(v));
  return v + int(n) + c;
}

__attribute__((noinline)) int ParkedLevel2(int v) {
  levelLines[1] = __LINE__ + 1;
  const int r = ParkedLevel3(v + 1);
  asm volatile("" : "+r"(v));
  return r + v;
}

__attribute__((noinline)) int ParkedLevel1(int v) {
  levelLines[0] = __LINE__ + 1;
  const int r = ParkedLevel2(v + 1);
  asm volatile("" : "+r"(v));
  return r + v;
}

// The interrupted thread's context, kept while the test walks it. Rounds are
// numbered, so a late handler never waits for a release already given.
ucontext_t captured;
std::atomic<int> captureRound{0}, capturedRound{0}, releasedRound{0};

void CaptureHandler(int, siginfo_t*, void* context) {
  const int mine = captureRound.load();
  captured = *static_cast<ucontext_t*>(context);
  capturedRound.store(mine);
  while (releasedRound.load() < mine) {
  }
}

// Lines of the text that name a function, in order.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t i = 1, n = ListCount(text, '\n'); i <= n; ++i) {
    std::string l = ListItem(text, i, '\n');
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  return lines;
}

int IndexOfLine(const std::vector<std::string>& lines, const std::string& part, std::size_t from = 0) {
  for (std::size_t i = from; i < lines.size(); ++i)
    if (lines[i].find(part) != std::string::npos) return int(i);
  return -1;
}

__attribute__((noinline)) TTraceResult TraceHere(bool leaveOutTop) {
  TTraceOptions options;
  options.leaveOutTop = leaveOutTop;
  options.wantItems = true;
  const TTraceResult r = TraceStack(CurrentThreadRegisters(), options);
  asm volatile("");
  return r;
}

__attribute__((noinline)) std::uint64_t ReturnAddressOfCall() {
  return reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
}

}  // namespace

TEST(zebStackTrace, ParkedThreadShowsItsCallsWithUnitAndLines) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  readFd = fds[0];
  std::atomic<pid_t> tid{0};
  pthread_t handle{};
  std::thread parked([&] {
    handle = pthread_self();
    tid = gettid();
    ParkedLevel1(1);
  });
  struct sigaction action {}, old {};
  action.sa_sigaction = CaptureHandler;
  action.sa_flags = SA_SIGINFO | SA_RESTART;  // the parked read goes on afterwards
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGURG, &action, &old), 0);
  // The thread is parked once it sits in read(); signal it until the capture
  // holds a context inside that call.
  std::string text;
  TTraceResult result;
  for (int attempt = 0; attempt < 200; ++attempt) {
    while (tid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int mine = ++captureRound;
    pthread_kill(handle, SIGURG);
    while (capturedRound.load() != mine) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    TTraceOptions options;
    options.wantItems = true;
    result = TraceStack(RegistersFromContext(captured), options);
    releasedRound = mine;
    if (result.text.find("ParkedLevel3") != std::string::npos) break;
  }
  char c = 0;
  ASSERT_EQ(write(fds[1], &c, 1), 1);
  parked.join();
  sigaction(SIGURG, &old, nullptr);
  close(fds[0]);
  close(fds[1]);

  SCOPED_TRACE(result.text);
  const auto lines = Lines(result.text);
  const int l3 = IndexOfLine(lines, "ParkedLevel3");
  const int l2 = IndexOfLine(lines, "ParkedLevel2");
  const int l1 = IndexOfLine(lines, "ParkedLevel1");
  ASSERT_GE(l3, 0);
  EXPECT_GT(l2, l3);
  EXPECT_GT(l1, l2);
  // The items below the top carry the unit and the line of each call.
  for (int level = 0; level < 3; ++level) {
    const std::string name = "ParkedLevel" + std::to_string(level + 1);
    const auto it = std::find_if(result.items.begin(), result.items.end(),
                                 [&](const TStackItem& i) { return i.functionName.find(name) != std::string::npos; });
    ASSERT_NE(it, result.items.end()) << name;
    EXPECT_EQ(it->unitName, "zebStackTraceTest.cpp") << name;
    EXPECT_EQ(it->absoluteLine, levelLines[level]) << name;
    EXPECT_GT(it->line, 0) << name;  // the distance from the function's first line
    EXPECT_EQ(it->moduleName, ProgramFileName());
    EXPECT_GT(it->offset, 0u);
  }
  // The top item is the interrupted instruction in the C library.
  EXPECT_NE(result.items.front().moduleName.find("libc"), std::string::npos);
  EXPECT_TRUE(result.hasLineNumbers);
}

TEST(zebStackTrace, LineLayoutColumnsAndChecksums) {
  TTraceResult runs[2];
  for (TTraceResult& run : runs) run = TraceHere(true);
  const TTraceResult& r = runs[0];
  SCOPED_TRACE(r.text);
  const auto lines = Lines(r.text);
  ASSERT_GE(lines.size(), 2u);
  // Leaving out the top starts at the caller of the register snapshot.
  EXPECT_NE(lines[0].find("TraceHere"), std::string::npos);
  EXPECT_LT(IndexOfLine(lines, "TraceHere"), IndexOfLine(lines, "LineLayoutColumnsAndChecksums"));
  // Every line: 16 digits, a blank, "+" and the zero-padded offset; the
  // module column starts at the same place on every line.
  const std::size_t moduleColumn = lines[0].find(' ', 18) + 1;
  for (const std::string& l : lines) {
    ASSERT_GT(l.size(), 20u) << l;
    EXPECT_EQ(l.find_first_not_of("0123456789abcdef"), 16u) << l;
    EXPECT_EQ(l.substr(16, 2), " +") << l;
    EXPECT_EQ(l[moduleColumn - 1], ' ') << l;
    EXPECT_NE(l[moduleColumn], ' ') << l;
    EXPECT_EQ(l.back() == ' ', false) << l;
  }
  EXPECT_NE(r.firstCrc, 0u);
  EXPECT_NE(r.chainedCrc, r.firstCrc);
  // A second walk from the same place names the same frames: same checksums.
  const TTraceResult& again = runs[1];
  EXPECT_EQ(again.firstCrc, r.firstCrc);
  EXPECT_EQ(again.chainedCrc, r.chainedCrc);
  EXPECT_NE(r.exceptionFunction, 0u);
  EXPECT_GE(r.exceptionLocation, r.exceptionFunction);
}

TEST(zebStackTrace, RecordedReturnAddressesAreShownAtTheirCalls) {
  const int callLine = __LINE__ + 1;
  const std::uint64_t returnAddress = ReturnAddressOfCall();
  const auto entry = reinterpret_cast<std::uintptr_t>(&ReturnAddressOfCall);
  TTraceOptions options;
  options.wantItems = true;
  const TTraceResult r = TracePreparedStack(entry + 1, {returnAddress, 0, returnAddress + 0x100000000ull}, options);
  SCOPED_TRACE(r.text);
  ASSERT_GE(r.items.size(), 2u);
  EXPECT_NE(r.items[0].functionName.find("ReturnAddressOfCall"), std::string::npos);
  EXPECT_EQ(r.items[0].address, entry + 1);
  EXPECT_EQ(r.items[0].offset, 1u);
  EXPECT_NE(r.items[1].functionName.find("RecordedReturnAddressesAreShownAtTheirCalls"), std::string::npos);
  EXPECT_LT(r.items[1].address, returnAddress);  // the call instruction, not the return address
  EXPECT_EQ(r.items[1].absoluteLine, callLine);
  EXPECT_EQ(r.exceptionAddress, entry + 1);
  // An address in no module is no frame of any function: without a name it
  // is left out below the top.
  EXPECT_EQ(r.items.size(), 2u);
}

TEST(zebStackTrace, RecursionIsShownOnce) {
  struct Case {
    std::vector<std::uint64_t> in, out;  // youngest first
  };
  const Case cases[] = {
      {{9, 5, 5, 5, 5, 1}, {9, 5, 1}},
      {{9, 6, 5, 6, 5, 6, 5, 1}, {9, 6, 5, 1}},
      {{9, 7, 6, 5, 7, 6, 5, 2, 1}, {9, 7, 6, 5, 2, 1}},
      {{4, 3, 2, 1}, {4, 3, 2, 1}},
      {{5, 1, 5, 2}, {5, 1, 5, 2}},
  };
  for (const Case& c : cases) {
    std::vector<TRawFrame> frames;
    for (std::uint64_t a : c.in) frames.push_back({a, false});
    RemoveRecursiveAreas(frames);
    std::vector<std::uint64_t> out;
    for (const TRawFrame& f : frames) out.push_back(f.pc);
    EXPECT_EQ(out, c.out);
  }
}

TEST(zebStackTrace, ComposedTextHidesAndAlignsAsSet) {
  std::vector<TResolvedFrame> frames(4);
  frames[0] = {0x1000, 0x0ff0, "prog", "main.cpp", 12, 2, true, "top()", true};
  frames[1] = {0x2000, 0, "libx.so.1", "", 0, 0, false, "", false};  // no name: hidden
  frames[2] = {0x3010, 0x3000, "prog", "b.cpp", 0, 0, false, "helper()", false};
  frames[3] = {0x4100, 0x4000, "prog", "main.cpp", 140, 7, true, "main", false};
  TTraceOptions options;
  TTraceResult r = ComposeResult(frames, options);
  EXPECT_EQ(r.text,
            "0000000000001000 +010 prog main.cpp  12 +2 top()\r\n"
            "0000000000003010 +010 prog b.cpp           helper()\r\n"
            "0000000000004100 +100 prog main.cpp 140 +7 main");
  EXPECT_TRUE(r.hasLineNumbers);
  EXPECT_EQ(r.exceptionFunction, 0x0ff0u);
  EXPECT_EQ(r.exceptionLocation, 0x1000u);

  options.hideUglyItems = true;
  options.showRelAddrs = false;
  r = ComposeResult(frames, options);
  EXPECT_EQ(r.text,
            "0000000000001000 prog main.cpp  12 +2 top()\r\n"
            "0000000000004100 prog main.cpp 140 +7 main");

  // The checksum of a line depends on its offset and names, not on where the
  // module was loaded; a line without names counts by its address.
  std::vector<TResolvedFrame> moved = frames;
  for (TResolvedFrame& f : moved) {
    f.address += 0x7000000;
    if (f.functionStart) f.functionStart += 0x7000000;
  }
  options = {};
  const TTraceResult a = ComposeResult(frames, options), b = ComposeResult(moved, options);
  EXPECT_EQ(a.firstCrc, b.firstCrc);
  EXPECT_EQ(a.chainedCrc, b.chainedCrc);
  moved[0].address += 1;
  EXPECT_NE(ComposeResult(moved, options).firstCrc, a.firstCrc);
  std::vector<TResolvedFrame> nameless{{0x1234, 0, "???", "", 0, 0, false, "", true}};
  EXPECT_EQ(ComposeResult(nameless, options).firstCrc, 0x1234u);
  EXPECT_EQ(ComposeResult(nameless, options).text, "0000000000001234 ???");
}

// The listing shows one frame: the program's own first frame, whether or not
// it has line numbers (a release or stripped build has none, while a system
// library's debug files give its frames lines).
TEST(zebStackTrace, TheExceptionLocationIsTheProgramsFirstOwnFrame) {
  const TResolvedFrame top{0x1000, 0x0ff0, "prog", "", 0, 0, false, "WriteNowhere()", true};
  const TResolvedFrame caller{0x2010, 0x2000, "prog", "", 0, 0, false, "main", false};
  const TResolvedFrame libcStart{0x7010, 0x7000, "libc.so.6", "libc_start_call_main.h", 58, 0, false,
                                 "__libc_start_call_main", false};
  const TResolvedFrame libcTop{0x8010, 0x8000, "libc.so.6", "memmove.S", 300, 0, false, "memmove", true};
  const TResolvedFrame qtTop{0x9010, 0x9000, "libQt6Core.so.6", "", 0, 0, false, "QObject::event", true};
  const TResolvedFrame nameless{0x5000, 0, "???", "", 0, 0, false, "", true};
  struct Case {
    const char* name;
    std::vector<TResolvedFrame> frames;
    std::uint64_t function, location;
  } cases[] = {
      {"own frames without lines", {top, caller, libcStart}, 0x0ff0, 0x1000},
      {"a fault in a library called by the program", {libcTop, caller, libcStart}, 0x2000, 0x2010},
      {"no frame of the program: the faulting one", {qtTop, libcStart}, 0x9000, 0x9010},
      {"a faulting frame without a name: the first with a line", {nameless, libcStart}, 0x7000, 0x7010},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTraceOptions options;
    options.ownModule = "prog";
    const TTraceResult r = ComposeResult(c.frames, options);
    EXPECT_EQ(r.exceptionFunction, c.function);
    EXPECT_EQ(r.exceptionLocation, c.location);
  }
}

TEST(zebStackTrace, WildRegistersAndSingleAddresses) {
  TThreadRegisters wild;
  wild.regs[16] = 0x10;   // rip in no mapping
  wild.regs[7] = 0x20;    // rsp in no mapping
  wild.regs[6] = 0x30;
  TTraceResult r = TraceStack(wild, {});
  EXPECT_EQ(r.text, "0000000000000010 ???");

  // A stack pointer into unreadable memory ends the walk after the top.
  const auto entry = reinterpret_cast<std::uintptr_t>(&ReturnAddressOfCall);
  wild.regs[16] = entry;
  r = TraceStack(wild, {});
  EXPECT_EQ(Lines(r.text).size(), 1u) << r.text;
  EXPECT_NE(r.text.find("ReturnAddressOfCall"), std::string::npos);

  EXPECT_EQ(FormatStackAddress(0x10, true, true), "0000000000000010 +0 ???");
  EXPECT_EQ(FormatStackAddress(0x10, false, true), "0000000000000010 ???");
  const std::string line = FormatStackAddress(entry + 2, true, true);
  EXPECT_EQ(line.rfind(PadText(HexText(entry + 2), 16, '0') + " +2 " + ProgramFileName() + " zebStackTraceTest.cpp ", 0),
            0u)
      << line;
  EXPECT_NE(line.find("ReturnAddressOfCall()"), std::string::npos);

  EXPECT_EQ(InternalErrorText("GetStackDump", true, true), ">> internal error in GetStackDump");
  EXPECT_EQ(InternalErrorText("plugin", false, false, 0x10), ">> internal error in plugin:\r\n0000000000000010 ???");
  std::uint64_t word = 0;
  EXPECT_FALSE(ReadOwnMemory(0x20, &word, 8));
  EXPECT_TRUE(ReadOwnMemory(reinterpret_cast<std::uintptr_t>(&entry), &word, 8));
  EXPECT_EQ(word, entry);
}

namespace {

// Child mode: the walk of a known stack, printed for the parent.
__attribute__((noinline)) void PrintTraceOfKnownStack() {
  TTraceOptions options;
  options.leaveOutTop = true;
  options.wantItems = true;
  const TTraceResult r = TraceStack(CurrentThreadRegisters(), options);
  const auto base = reinterpret_cast<std::uintptr_t>(&PrintTraceOfKnownStack);
  std::printf("crc %08x %08x\nfunction %016llx\n", r.firstCrc, r.chainedCrc, static_cast<unsigned long long>(base));
  for (const TStackItem& i : r.items)
    std::printf("item %016llx %d %s\n", static_cast<unsigned long long>(i.address), i.absoluteLine,
                i.functionName.c_str());
  std::fflush(stdout);
}

std::string RunChild(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return {};
  std::string out;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  pclose(p);
  return out;
}

std::string LineStarting(const std::string& text, const std::string& prefix) {
  const std::size_t at = text.find(prefix);
  if (at == std::string::npos) return {};
  return text.substr(at + prefix.size(), text.find('\n', at) - at - prefix.size());
}

}  // namespace

TEST(zebStackTrace, SameStackAtAnotherLoadAddressHasTheSameChecksumsAndAddr2lineLines) {
  if (std::getenv("ZEB_STACK_CHILD")) {
    PrintTraceOfKnownStack();
    return;
  }
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  const std::string command = std::string("ZEB_STACK_CHILD=1 '") + exe +
                              "' --gtest_filter=zebStackTrace.SameStackAtAnotherLoadAddress* 2>/dev/null";
  const std::string first = RunChild(command), second = RunChild(command);
  ASSERT_FALSE(LineStarting(first, "crc ").empty()) << first;
  EXPECT_EQ(LineStarting(first, "crc "), LineStarting(second, "crc "));
  if (LineStarting(first, "function ") == LineStarting(second, "function "))
    std::cout << "note: both runs were loaded at the same address (no address randomisation)\n";

  // The first item (the caller of the walk) carries the line addr2line gives
  // for its address, taken relative to the file's load address.
  const std::string item = LineStarting(first, "item ");
  ASSERT_FALSE(item.empty()) << first;
  if (system("command -v eu-addr2line >/dev/null 2>&1") != 0) GTEST_SKIP() << "no eu-addr2line";
  std::istringstream fields(item);
  std::string address, line;
  fields >> address >> line;
  const std::uint64_t functionInChild = std::strtoull(LineStarting(first, "function ").c_str(), nullptr, 16);
  const auto functionHere = reinterpret_cast<std::uintptr_t>(&PrintTraceOfKnownStack);
  // Same file, so the same offset between this function and the item.
  const std::uint64_t here = std::strtoull(address.c_str(), nullptr, 16) - functionInChild + functionHere;
  const std::string answer = RunChild("eu-addr2line --pid=" + std::to_string(getpid()) + " 0x" + HexText(here));
  EXPECT_NE(answer.find("zebStackTraceTest.cpp:" + line + ":"), std::string::npos) << answer << " line " << line;
}
