#pragma once

// What the crash-UI tests show: this program's settings as the failing
// process sends them, and a report shaped as the composition writes it.

#include <string>

#include "crashreport/zebCrashUiClient.h"
#include "crashreport/zebCrashUiTypes.h"
#include "crashreport/zebExceptSettings.h"

namespace crashuitest {

inline zeb::CrashUiFacts ProgramFacts() {
  zeb::CrashUiFacts facts;
  facts.message = "Access violation at address $0000000000401010 in module 'crashprobe'. Write of address $0.";
  facts.className = "ZebException";
  facts.programName = "crashprobe";
  facts.canContinue = true;
  facts.settings = zeb::CrashUiSettingsOf(*zeb::SettingsOfModule(0));
  facts.settings.Set("TitleBar", "crashprobe");
  return facts;
}

inline std::string A(unsigned long long address) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%016llX", address);
  return buffer;
}

// A report still being completed (`complete` false) or complete.
inline zeb::CrashUiReport SampleReport(bool complete) {
  zeb::CrashUiReport r;
  r.header = {{"date/time", "2026-12-11, 05:30:12, 120ms"},
              {"computer name", "buildhost"},
              {"user name", "joe"},
              {"operating system", "Debian GNU/Linux 12"},
              {"executable", "crashprobe"},
              {"exception class", "ZebException"},
              {"exception message", "Access violation at address $0000000000401010 in module 'crashprobe'."}};
  const std::string pending = ">> will be completed in a moment...";
  r.sections = {
      {"main thread ($1f4)",
       complete ? A(0x401010) + " +010 crashprobe  probe.cpp  120 +2 SegvWrite\r\n" + A(0x401200) +
                      " +200 crashprobe  probe.cpp  245 +1 main\r\n" + A(0x7f0012340000) +
                      " +0c0 libc.so.6   libc-start  99 +0 __libc_start_call_main"
                : pending},
      {"worker ($1f5)", complete ? A(0x7f0012345000) + " +000 libc.so.6   clone3.c    78 +0 __clone3" : pending},
      {"modules", "0000555500000000  crashprobe     1.0.0.0   /work/build/crashprobe\r\n"
                  "00007F0012300000  libc.so.6      2.36.0.0  /usr/lib/x86_64-linux-gnu/libc.so.6\r\n"
                  "00007F0012500000  libQt6Core.so  6.4.2.0   /usr/lib/x86_64-linux-gnu/libQt6Core.so.6"},
      {"processes", "0001  systemd     8  /usr/lib/systemd/systemd\r\n0305  bash        8  /usr/bin/bash\r\n"
                    "1234  crashprobe  8  /work/build/crashprobe"},
      {"hardware", "^device\tdriver\r\nkeyboard\tusbhid\r\nnetwork\te1000e"},
      {"cpu registers", complete ? "RAX: 0000000000000001\r\nRBX: 0000000000000000\r\nRIP: 0000000000401010\r\n"
                                   "RSP: 00007FFC00001000"
                                 : pending},
      {"stack dump", complete ? A(0x7ffc00001000) + "  10 10 40 00 00 00 00 00 - 00 12 34 00 00 7F 00 00  ..@.......4....."
                              : pending},
      {"disassembling", complete ? A(0x401008) + "   push rbp\r\n" + A(0x401009) + "   mov rbp, rsp\r\n" + A(0x401010) +
                                       " > mov dword ptr [0], 1 ; the fault\r\n" + A(0x401018) + "   pop rbp"
                                 : pending},
  };
  r.complete = complete;
  return r;
}

}  // namespace crashuitest
