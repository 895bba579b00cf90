#pragma once

// A real fault inside the test program, reported on the spot: the SIGSEGV
// handler composes the bug report from the fault's processor context while
// the faulting frames still lie on the stack (as the crash reporter's own
// handling does), then jumps back. Sanitizers own SIGSEGV: callers skip there.

#include <setjmp.h>
#include <signal.h>

#include <exception>
#include <stdexcept>
#include <string>

#include "crashreport/zebExceptObject.h"
#include "crashreport/zebReport.h"

namespace faultreport {

inline sigjmp_buf jump;
inline std::string report;

inline void OnFault(int, siginfo_t* info, void* context) {
  const auto* uc = static_cast<const ucontext_t*>(context);
  zeb::ExceptionFacts facts;
  facts.exception = std::make_exception_ptr(std::runtime_error("fault"));
  facts.context = uc;
  facts.address = std::uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
  facts.canContinue = false;
  (void)info;
  auto e = zeb::NewExceptionObject(std::move(facts));
  zeb::ReportSources sources;
  sources.threads = [] { return std::vector<zeb::ThreadSnapshot>{}; };
  sources.plugins = [] { return std::vector<zeb::ReportPlugin>{}; };
  zeb::ComposeReport(*e, sources, false);
  report = e->ReportText(true);
  siglongjmp(jump, 1);
}

// Runs fault (which must fault) and returns the report of its fault; "" when
// it did not fault.
template <class F>
std::string ReportOfFault(F fault) {
  struct sigaction action = {}, old = {};
  action.sa_sigaction = &OnFault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &old);
  report.clear();
  if (sigsetjmp(jump, 1) == 0) fault();
  sigaction(SIGSEGV, &old, nullptr);
  return report;
}

// The lines of a report section ("" when it has none), joined by CR LF.
inline std::string Section(const std::string& text, const std::string& title) {
  const std::size_t at = text.find("\r\n\r\n" + title + ":\r\n");
  if (at == std::string::npos) return {};
  const std::size_t start = at + 4 + title.size() + 3;
  const std::size_t end = text.find("\r\n\r\n", start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace faultreport
