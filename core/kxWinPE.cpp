#include "core/kxWinPE.h"

#include "core/bwlRegTools.h"

bool ProbeWinPE() {
  return RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, "\\system\\currentcontrolset\\control\\minint",
                           ViewByte::v32);
}

bool IsWinPE() {
  static const bool winPE = ProbeWinPE();
  return winPE;
}
