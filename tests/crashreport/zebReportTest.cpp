// The composed bug report: header lines and their order, the sections of an
// exception with a processor context, threads whose stacks can or cannot be
// read, plug-ins, the checksums, and the completion on a thread of its own.

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <stdexcept>
#include <thread>

#include "crashreport/zebExcept.h"
#include "crashreport/zebReport.h"
#include "crashreport/zebStrings.h"

using namespace zeb;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::string Section(const std::string& report, const std::string& title) {
  const std::size_t at = report.find("\r\n\r\n" + title + ":\r\n");
  if (at == std::string::npos) return {};
  const std::size_t start = at + 4 + title.size() + 3;
  const std::size_t end = report.find("\r\n\r\n", start);
  return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::shared_ptr<TIZeqException> ObjectFor(std::exception_ptr e, const ucontext_t* context = nullptr,
                                          std::uint64_t address = 0, ExceptionKind kind = ExceptionKind::Exception) {
  ExceptionFacts facts;
  facts.exception = std::move(e);
  facts.context = context;
  facts.address = address;
  facts.kind = kind;
  return NewExceptionObject(std::move(facts));
}

// Quick plug-ins: one section, one header item, one that fails.
ReportSources QuickSources() {
  ReportSources s;
  s.plugins = [] {
    return std::vector<ReportPlugin>{
        {"modules", "", [](IZeqException*) { return std::string("0000000000400000 prog  \r\n\r\n   indented\n"); },
         true},
        {"processes", "", [](IZeqException*) { return std::string("fixed header value"); }, false},
        {"hardware", "", [](IZeqException*) -> std::string { throw std::runtime_error("no bus"); }, true},
    };
  };
  s.threads = [] { return std::vector<ThreadSnapshot>{}; };
  return s;
}

__attribute__((noinline)) void CaptureContextHere(ucontext_t& context) {
  getcontext(&context);
  asm volatile("");
}

}  // namespace

TEST(zebReport, HeaderLinesAndTheirOrder) {
  auto e = ObjectFor(std::make_exception_ptr(std::runtime_error("disk\r\nfull  now")));
  const std::uint64_t before = ExceptionCount();
  ComposeReportHeader(*e, QuickSources());
  const std::string text = e->ReportText(false);
  const auto lines = Lines(text);
  std::size_t width = 0;
  for (const std::string& l : lines) width = std::max(width, l.find(':'));
  const std::regex form("^[A-Za-z./ ]+ *: .+$");
  std::vector<std::string> names;
  for (const std::string& l : lines) {
    EXPECT_TRUE(std::regex_match(l, form)) << l;
    EXPECT_EQ(l.find(" : ") + 1, width) << l;  // padded to one more than the longest name
    names.push_back(TrimmedCopy(l.substr(0, l.find(':'))));
  }
  const std::vector<std::string> order = {"date/time",        "computer name", "user name",        "operating system",
                                          "executable",       "compiled with", "processes",        "callstack crc",
                                          "exception number", "exception class", "exception message"};
  std::size_t at = 0;
  for (const std::string& name : order) {
    const auto it = std::find(names.begin() + std::ptrdiff_t(at), names.end(), name);
    ASSERT_NE(it, names.end()) << name << "\n" << text;
    at = std::size_t(it - names.begin());
  }
  const IZeqFields header = e->ReportHeader();
  EXPECT_EQ(header->ValueOf("callstack crc"), "will be calculated soon");
  EXPECT_EQ(header->ValueOf("exception class"), "runtime_error");
  EXPECT_EQ(header->ValueOf("exception message"), "disk full now.");
  EXPECT_EQ(header->ValueOf("processes"), "fixed header value");
  EXPECT_EQ(header->ValueOf("exception number"), std::to_string(before + 1));
  EXPECT_EQ(header->ValueOf("process id"), "$" + HexText(std::uint64_t(getpid())));
  EXPECT_TRUE(std::regex_match(header->ValueOf("date/time"),
                               std::regex(R"(\d{4}-\d\d-\d\d, \d\d:\d\d:\d\d, \d{1,3}ms)")));
  // Items added later stand before the checksums.
  header->Assign("contact", "someone");
  EXPECT_EQ(header->IndexOfName("contact") + 1, header->IndexOfName("callstack crc"));

  // A second report reads the next number; a composed header stays.
  auto second = ObjectFor(std::make_exception_ptr(std::logic_error("x")));
  ComposeReportHeader(*second, QuickSources());
  EXPECT_EQ(second->ReportHeader()->ValueOf("exception number"), std::to_string(before + 2));
  ComposeReportHeader(*second, QuickSources());
  EXPECT_EQ(second->ReportHeader()->ValueOf("exception number"), std::to_string(before + 2));

  // A frozen program: its message, no class.
  auto frozen = ObjectFor(nullptr, nullptr, 0, ExceptionKind::Frozen);
  ComposeReportHeader(*frozen, QuickSources());
  EXPECT_EQ(frozen->ReportHeader()->ValueOf("exception message"), "The application seems to be frozen.");
  EXPECT_EQ(frozen->ReportHeader()->IndexOfName("exception class"), -1);
}

TEST(zebReport, ExceptionWithAProcessorContext) {
  ucontext_t context;
  CaptureContextHere(context);
  const auto rip = std::uint64_t(context.uc_mcontext.gregs[REG_RIP]);
  auto e = ObjectFor(std::make_exception_ptr(std::runtime_error("fault")), &context, rip);
  ReportSources sources = QuickSources();
  ComposeReport(*e, sources, false);
  ASSERT_TRUE(e->IsComplete());
  const std::string report = e->ReportText(true);
  SCOPED_TRACE(report);
  EXPECT_EQ(report.find("will be calculated soon"), std::string::npos);

  const std::string title = DefaultThreadTitle(gettid(), true);
  const auto stack = Lines(Section(report, title));
  ASSERT_GE(stack.size(), 2u);
  EXPECT_NE(stack[0].find("CaptureContextHere"), std::string::npos);
  EXPECT_NE(stack[0].find("zebReportTest.cpp"), std::string::npos);
  EXPECT_NE(stack[1].find("ExceptionWithAProcessorContext"), std::string::npos);

  const auto registers = Lines(Section(report, "cpu registers"));
  ASSERT_EQ(registers.size(), 17u);
  EXPECT_EQ(registers[0].substr(0, 6), "rax = ");
  EXPECT_EQ(registers[14], "rip = " + PadText(HexText(rip), 16, '0'));
  EXPECT_EQ(registers[16].substr(0, 6), "rbp = ");

  const auto dump = Lines(Section(report, "stack dump"));
  ASSERT_GE(dump.size(), 1u);
  EXPECT_LE(dump.size(), 20u);
  const auto rsp = std::uint64_t(context.uc_mcontext.gregs[REG_RSP]);
  EXPECT_EQ(dump[0].substr(0, 18), PadText(HexText(rsp), 16, '0') + "  ");
  EXPECT_EQ(dump[0].substr(18 + 8 * 3, 2), "- ");

  // Lines lose their trailing blanks, an empty line shows as ".".
  EXPECT_EQ(Section(report, "modules"), "0000000000400000 prog\r\n.\r\n   indented");
  EXPECT_EQ(Section(report, "hardware"), ">> internal error in plugin");
  const std::string crc = e->ReportHeader()->ValueOf("callstack crc");
  EXPECT_TRUE(std::regex_match(crc, std::regex(R"(\$[0-9a-f]{8}, \$[0-9a-f]{8}, \$[0-9a-f]{8})"))) << crc;
  EXPECT_EQ(crc.substr(1, 8), PadText(HexText(e->CallstackCrc(0)), 8, '0'));

  // Without the settings for them the sections are not made.
  auto plain = ObjectFor(std::make_exception_ptr(std::runtime_error("fault")), &context, rip);
  plain->SetCpuRegs(false);
  plain->SetStackDump(false);
  plain->SetPlugins("");
  ComposeReport(*plain, sources, false);
  const std::string plainReport = plain->ReportText(true);
  EXPECT_EQ(Section(plainReport, "cpu registers"), "");
  EXPECT_EQ(Section(plainReport, "modules"), "");
  // Without a processor context: no registers either.
  auto noContext = ObjectFor(std::make_exception_ptr(std::runtime_error("fault")));
  ComposeReport(*noContext, sources, false);
  EXPECT_EQ(Section(noContext->ReportText(true), "cpu registers"), "");
}

TEST(zebReport, OtherThreadsAndTheCompletionThread) {
  // A worker whose registers the "snapshot" has, and one that blocked the
  // snapshot (no registers).
  std::atomic<bool> release{false};
  std::atomic<pid_t> tid{0};
  ucontext_t workerContext;
  std::atomic<bool> captured{false};
  std::thread worker([&] {
    tid = gettid();
    CaptureContextHere(workerContext);
    captured = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  });
  std::thread blocked([&] {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  });
  while (!captured) std::this_thread::sleep_for(std::chrono::milliseconds(2));

  ucontext_t context;
  CaptureContextHere(context);
  ReportSources sources = QuickSources();
  const pid_t blockedTid = [&] {
    for (const ThreadSnapshot& s : ProcessThreads())
      if (s.tid != tid && s.tid != gettid() && s.tid != getpid()) return s.tid;
    return pid_t(0);
  }();
  sources.threads = [&] {
    std::vector<ThreadSnapshot> threads = ProcessThreads();
    for (ThreadSnapshot& t : threads)
      if (t.tid == tid) t.registers = RegistersFromContext(workerContext);
    return threads;
  };
  sources.threadTitle = [&](pid_t t, bool force) -> std::string {
    if (t == tid) return "worker ($" + HexText(std::uint64_t(t)) + ")";
    return DefaultThreadTitle(t, force);
  };
  auto e = ObjectFor(std::make_exception_ptr(std::runtime_error("fault")), &context,
                     std::uint64_t(context.uc_mcontext.gregs[REG_RIP]));
  ComposeReport(*e, sources, true);
  const std::string report = e->CompleteReportText();
  release = true;
  worker.join();
  blocked.join();
  SCOPED_TRACE(report);
  EXPECT_NE(e->CompletionThreadId(), 0);
  const std::string workerStack = Section(report, "worker ($" + HexText(std::uint64_t(tid.load())) + ")");
  EXPECT_NE(workerStack.find("CaptureContextHere"), std::string::npos) << workerStack;
  EXPECT_NE(workerStack.find("OtherThreadsAndTheCompletionThread"), std::string::npos) << workerStack;
  ASSERT_NE(blockedTid, 0);
  EXPECT_EQ(Section(report, DefaultThreadTitle(blockedTid, false)), ">> stack not accessible");
  // The worker's stack has lines: the third checksum takes it in.
  EXPECT_NE(e->CallstackCrc(2), e->CallstackCrc(1));
}

TEST(zebReport, StackDumpStopsAtTheRegionEnd) {
  alignas(16) std::uint8_t bytes[40];
  for (int i = 0; i < 40; ++i) bytes[i] = std::uint8_t('A' + i);
  bytes[1] = 0;
  const auto base = reinterpret_cast<std::uintptr_t>(bytes);
  const auto lines = Lines(StackDumpOf(base, base + 20));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], PadText(HexText(base), 16, '0') +
                          "  41 00 43 44 45 46 47 48 - 49 4a 4b 4c 4d 4e 4f 50  A.CDEFGHIJKLMNOP");
  EXPECT_EQ(lines[1], PadText(HexText(base + 16), 16, '0') + "  51 52 53 54 " + std::string(4 * 3, ' ') + "  " +
                          std::string(8 * 3, ' ') + " QRST");
  EXPECT_EQ(Lines(StackDumpOf(base, 0)).size(), 20u);  // region unknown: the full 20 lines
}

namespace {

// A return address in the caller, behind its call of this function.
__attribute__((noinline)) std::uint64_t ReturnAddressHere() {
  const auto address = reinterpret_cast<std::uint64_t>(__builtin_return_address(0));
  asm volatile("");
  return address;
}

}  // namespace

// A thrown exception carries the registers and the top of the stack the raise
// hook recorded: the report shows them as for a fault, the stack from the
// copy (its own memory was overwritten long ago), and the call stack still
// comes from the return addresses recorded at the throw.
TEST(zebReport, ARaiseContextGivesRegistersAndTheStackCopiedAtTheThrow) {
  const std::uint64_t returnAddress = ReturnAddressHere();
  ExceptionFacts facts;
  facts.exception = std::make_exception_ptr(std::runtime_error("thrown"));
  facts.address = returnAddress;
  RaiseContext& raise = facts.raiseContext;
  raise.valid = true;
  // Real registers of this function, from which a walk would find the
  // test's callers; the stack above rsp holds other bytes than the copy.
  ucontext_t here;
  CaptureContextHere(here);
  const TThreadRegisters real = RegistersFromContext(here);
  std::copy(std::begin(real.regs), std::end(real.regs), raise.registers);
  raise.registers[0] = 0x1111;
  raise.registers[1] = 0x2222;
  raise.registers[8] = 0x9999;
  raise.registers[16] = returnAddress;
  const std::uint64_t rsp = real.Rsp();
  for (std::size_t i = 0; i < RaiseContext::kStackBytes; ++i) raise.stack[i] = std::uint8_t('A' + i % 26);
  raise.stackSize = 40;
  auto e = NewExceptionObject(facts);
  ASSERT_TRUE(e->ContextFromRaise());
  ASSERT_NE(e->Context(), nullptr);
  // rip moves back from the return address to the call before it.
  const auto rip = std::uint64_t(e->Context()->uc_mcontext.gregs[REG_RIP]);
  EXPECT_GE(rip, returnAddress - 7);
  EXPECT_LE(rip, returnAddress - 2);

  ReportSources sources = QuickSources();
  sources.preparedStack = {returnAddress};
  ComposeReport(*e, sources, false);
  const std::string report = e->ReportText(true);
  SCOPED_TRACE(report);
  const auto registers = Lines(Section(report, "cpu registers"));
  ASSERT_EQ(registers.size(), 17u);
  // The recorded order (rax, rdx, ...) becomes the order of the section (rax, rbx, rcx, rdx, ...).
  EXPECT_EQ(registers[0], "rax = 0000000000001111");
  EXPECT_EQ(registers[3], "rdx = 0000000000002222");
  EXPECT_EQ(registers[6], "r8  = 0000000000009999");
  EXPECT_EQ(registers[14], "rip = " + PadText(HexText(rip), 16, '0'));
  EXPECT_EQ(registers[15], "rsp = " + PadText(HexText(rsp), 16, '0'));

  const auto dump = Lines(Section(report, "stack dump"));
  ASSERT_EQ(dump.size(), 3u);
  EXPECT_EQ(dump[0], PadText(HexText(rsp), 16, '0') +
                         "  41 42 43 44 45 46 47 48 - 49 4a 4b 4c 4d 4e 4f 50  ABCDEFGHIJKLMNOP");
  EXPECT_EQ(dump[2].substr(0, 18), PadText(HexText(rsp + 32), 16, '0') + "  ");
  EXPECT_EQ(dump[2].substr(18), "47 48 49 4a 4b 4c 4d 4e " + std::string(2 + 8 * 3, ' ') + " GHIJKLMN");

  const auto stack = Lines(Section(report, DefaultThreadTitle(gettid(), true)));
  ASSERT_GE(stack.size(), 1u);
  EXPECT_NE(stack[0].find("ARaiseContextGivesRegistersAndTheStackCopiedAtTheThrow"), std::string::npos);
  // Only the recorded frames: a walk from the registers would go on into the test's callers.
  EXPECT_EQ(Section(report, DefaultThreadTitle(gettid(), true)).find("testing::"), std::string::npos);

  // More bytes claimed than a record holds: still at most the 20 lines.
  facts.raiseContext.stackSize = 5000;
  auto large = NewExceptionObject(facts);
  EXPECT_EQ(large->RaiseStack().size(), RaiseContext::kStackBytes);
  ComposeReport(*large, QuickSources(), false);
  EXPECT_EQ(Lines(Section(large->ReportText(true), "stack dump")).size(), 20u);

  // A processor context given with the exception comes first.
  ucontext_t context;
  CaptureContextHere(context);
  facts.context = &context;
  auto signal = NewExceptionObject(facts);
  EXPECT_FALSE(signal->ContextFromRaise());
  EXPECT_TRUE(signal->RaiseStack().empty());
  EXPECT_EQ(signal->Context()->uc_mcontext.gregs[REG_RSP], context.uc_mcontext.gregs[REG_RSP]);
}
