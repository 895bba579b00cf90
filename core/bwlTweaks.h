#pragma once

// Tweak values: REG_DWORD values under HKEY_LOCAL_MACHINE in
// "\SOFTWARE\Brantwell Limited\Tweaks\<program file name>", else in
// "\SOFTWARE\Brantwell Limited\Tweaks" itself. A value is true when it is not
// 0; a value of another type counts as not there.

#include <string>

inline constexpr const char* kTweaksKey = "\\SOFTWARE\\Brantwell Limited\\Tweaks\\";

// Whether the value was found; value receives it then.
bool ReadTweakValue(const std::string& name, bool& value);
// The value, or def when it is not found.
bool ReadTweakValueDef(const std::string& name, bool def);

// The same for a program file name other than this program's.
bool ReadTweakValue(const std::string& programName, const std::string& name, bool& value);

// The file name of the running program, without its folder.
std::string TweakProgramName();
