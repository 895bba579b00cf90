#pragma once

// Whether the program runs in the Windows pre-installation environment: the
// marker key "\system\currentcontrolset\control\minint" under
// HKEY_LOCAL_MACHINE (32-bit view) exists.

// The probe itself, asked of the registry now.
bool ProbeWinPE();
// The probe's answer, asked once per run and kept.
bool IsWinPE();
