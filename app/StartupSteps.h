#pragma once

// Steps of the start-up and shut-down order whose units are not built yet.
// Each keeps its place in the order under its own name and does nothing
// until its unit replaces it.

#include <string_view>

#include "app/CommandLine.h"
#include "core/bwlRegHivesCLP.h"

// Mounts the hives the hive-loading policy selects for the command line's
// switches (core/bwlRegHivesCLP.h); how many it mounted. UnloadHivesAtExit
// gives them back.
inline int ApplyHiveLoadingPolicy(const TCommandLine& commandLine) {
  return ApplyHiveLoadingPolicy([&](std::string_view name) { return commandLine.FindSwitch(name); });
}
