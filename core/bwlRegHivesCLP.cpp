#include "core/bwlRegHivesCLP.h"

#include "core/bwlTweaks.h"
#include "core/kxPathSolve.h"
#include "core/bwlWinAPITerminalServices.h"
#include "core/kxWinPE.h"

HivePolicyProbes::HivePolicyProbes()
    : TerminalSessionCount(GetTerminalSessionCount),
      IsWinPE(::IsWinPE),
      ReadTweakValueDef([](const std::string& name, bool def) { return ::ReadTweakValueDef(name, def); }) {}

unsigned HiveLoadingFlags(const HiveSwitchTest& hasSwitch, const HivePolicyProbes& probes) {
  const unsigned all = kHivesOfProfiles | kUserHivesOfInstallations | kSystemHivesOfInstallations;
  const unsigned installations = kUserHivesOfInstallations | kSystemHivesOfInstallations;
  unsigned flags = 0;
  // With several sessions open the other profiles' users may be logged on,
  // and their hives are theirs to load.
  if (probes.TerminalSessionCount() < 2 && !probes.ReadTweakValueDef("DisableUserHivesLoading", false))
    flags |= kHivesOfProfiles;
  if (probes.IsWinPE()) flags |= installations;
  if (hasSwitch("allhives")) flags |= all;
  if (hasSwitch("externalhives")) flags |= installations;
  if (hasSwitch("userhives")) flags |= kHivesOfProfiles;
  if (hasSwitch("nouserhives")) flags &= ~kHivesOfProfiles;
  return flags;
}

int ApplyHiveLoadingPolicy(const HiveSwitchTest& hasSwitch, TRegHiveManager& manager) {
  int mounted = 0;
  try {
    mounted = manager.MountHives(HiveLoadingFlags(hasSwitch));
  } catch (...) {
  }
  // The folders of the hives now visible, mounted now or before.
  try {
    AddUserHivePlaceholders();
    AddMountedInstallationPlaceholders();
  } catch (...) {
  }
  return mounted;
}

void UnloadHivesAtExit(TRegHiveManager& manager) {
  try {
    (void)manager.Unregister();
    (void)manager.UnloadIfUnused();
  } catch (...) {
  }
}
