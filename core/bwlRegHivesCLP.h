#pragma once

// What the hive manager mounts when the program starts and gives back when it
// ends. By default the hives of this system's other profiles are mounted,
// unless several sessions are open or the tweak "DisableUserHivesLoading"
// says no; in the pre-installation environment the hives of every other
// installation are mounted too. The switches "allhives", "externalhives",
// "userhives" and "nouserhives" add or take away kinds; "nouserhives" wins.

#include <functional>
#include <string_view>

#include "core/bwlRegHives.h"

// Whether the command line holds a switch (a name such as "allhives").
using HiveSwitchTest = std::function<bool(std::string_view name)>;

// What the policy asks of the system; the real probes unless a test says
// otherwise.
struct HivePolicyProbes {
  std::function<unsigned()> TerminalSessionCount;
  std::function<bool()> IsWinPE;
  std::function<bool(const std::string& name, bool def)> ReadTweakValueDef;
  HivePolicyProbes();
};

// The flags (kHivesOfProfiles...) the policy asks MountHives for.
unsigned HiveLoadingFlags(const HiveSwitchTest& hasSwitch, const HivePolicyProbes& probes = {});

// Mounts what the policy selects and has the path placeholders learn the
// folders of what is now visible; the number of hives mounted.
int ApplyHiveLoadingPolicy(const HiveSwitchTest& hasSwitch, TRegHiveManager& manager = HiveManager());

// Takes this program off the hive registration and unmounts the recorded
// hives unless another program still uses them. Never fails.
void UnloadHivesAtExit(TRegHiveManager& manager = HiveManager());
