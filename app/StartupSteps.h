#pragma once

// Steps of the start-up and shut-down order whose units are not built yet.
// Each keeps its place in the order under its own name and does nothing
// until its unit replaces it.

// Mounts the hives the hive-loading policy selects (command-line switches,
// the pre-installation environment, terminal sessions, a tweak value).
inline void ApplyHiveLoadingPolicy() {}
// How many hives ApplyHiveLoadingPolicy mounted.
inline int HivesMountedAtStart() { return 0; }
// Gives back what ApplyHiveLoadingPolicy mounted; never fails.
inline void UnloadHivesAtExit() {}
