#pragma once

// The registry store: the in-process model behind the Win32-shaped and native
// registry calls. It mounts hive files (the default registry and the hives
// loaded with RegLoadKey) under the master keys, hands out key handles,
// resolves the predefined roots, links and the 32-bit view, keeps volatile
// keys in memory, signals change notifications, and writes changed hives back
// through the hive engine. Every open weighs the key's DACL against the
// process token (Security.h) and the handle keeps the rights granted; each
// call checks the right it needs on its handle. A new key without a
// descriptor of its own inherits its parent's inheritable entries.
//
// Every call takes wide names as they are (NULs allowed) and already split
// into path components; the A/W/native layers do the text and the error
// shapes. Results are Win32 error codes. One mutex serialises everything.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Kernel.h"
#include "platform/WinTypes.h"

namespace platform::registry {

using Path = std::vector<std::u16string>;

// Splits a Win32 sub-key text at "\". Empty components (a trailing "\" or
// "\\") are dropped; a leading "\" is the caller's to reject.
Path splitKeyPath(std::u16string_view text);

struct KeyInformation {
  std::u16string className;
  DWORD subKeys = 0;
  DWORD maxSubKeyLen = 0;     // UTF-16 units
  DWORD maxClassLen = 0;      // UTF-16 units
  DWORD values = 0;
  DWORD maxValueNameLen = 0;  // UTF-16 units
  DWORD maxValueLen = 0;      // bytes
  DWORD securitySize = 0;
  std::uint64_t lastWritten = 0;
};

struct SubKeyEntry {
  std::u16string name;
  std::u16string className;
  std::uint64_t lastWritten = 0;
};

struct ValueEntry {
  std::u16string name;
  DWORD type = 0;
  std::vector<std::uint8_t> data;
};

// How a path is resolved: the call's access mask (with its view flags) and,
// for the native calls, whether the path comes from the object namespace.
struct OpenRequest {
  REGSAM access = 0;
  bool create = false;
  bool createParents = true;   // Win32 creates missing parents; native does not
  DWORD options = 0;           // REG_OPTION_*
  const std::u16string* className = nullptr;
  const std::vector<std::uint8_t>* security = nullptr;  // self-relative descriptor for new keys
};

// The native object namespace: "\Registry\Machine" and "\Registry\User".
enum class NativeRoot { Machine, Users };

LSTATUS openKey(HKEY base, const Path& sub, const OpenRequest& request, HKEY* result, DWORD* disposition);
LSTATUS openNative(NativeRoot root, const Path& sub, const OpenRequest& request, HKEY* result, DWORD* disposition);
LSTATUS closeKey(HKEY key);
// Deletes base\sub (sub may be empty: the key itself). The key must have no
// sub-keys.
LSTATUS deleteKey(HKEY base, const Path& sub, REGSAM viewFlags);

LSTATUS queryInfo(HKEY key, KeyInformation* info);
// Without wantDetails only the name is filled in (className stays empty,
// lastWritten is a placeholder): the cheap form for walks that need names.
LSTATUS enumKey(HKEY key, DWORD index, SubKeyEntry* entry, bool wantDetails = true);
LSTATUS enumValue(HKEY key, DWORD index, ValueEntry* entry, bool wantData);
LSTATUS queryValue(HKEY key, std::u16string_view name, ValueEntry* entry, bool wantData);
LSTATUS setValue(HKEY key, std::u16string_view name, DWORD type, std::span<const std::uint8_t> data);
LSTATUS deleteValue(HKEY key, std::u16string_view name);
LSTATUS flushKey(HKEY key);
// Reads the hive holding key afresh when another process saved it since this
// one last read or wrote it (changes not yet saved here are kept on top).
// Other processes' saves reach this one by themselves only a moment later;
// a read-change-write under a lock between processes calls this first.
LSTATUS refreshKeyHive(HKEY key);
// The key's whole self-relative descriptor.
LSTATUS getSecurity(HKEY key, std::vector<std::uint8_t>* descriptor);
LSTATUS setSecurity(HKEY key, SECURITY_INFORMATION info, std::span<const std::uint8_t> descriptor);
LSTATUS notifyChange(HKEY key, bool watchSubtree, DWORD filter, HANDLE event);
// The granted access of a handle (predefined roots: all access).
LSTATUS handleAccess(HKEY key, REGSAM* access);
// The full native name of the key ("\REGISTRY\MACHINE\SOFTWARE\...").
LSTATUS keyNativeName(HKEY key, std::u16string* name);

LSTATUS loadHive(HKEY root, std::u16string_view mountName, const std::filesystem::path& file);

// Why a mounted hive takes no changes.
enum class HiveReadOnlyReason {
  None,             // it takes changes
  Dirty,            // its sequence numbers differ and no usable logs lie beside it
  Damaged,          // opening found damage, or its logs could not be replayed soundly
  OldFormat,        // a format this program only reads
  FileNotWritable,  // the file or its folder cannot be written
};

struct MountStatus {
  HKEY root;                    // HKEY_LOCAL_MACHINE or HKEY_USERS
  std::u16string mountName;
  std::filesystem::path file;   // the hive file
  bool defaultRegistry = false; // one of the default registry's own hives
  HiveReadOnlyReason readOnly = HiveReadOnlyReason::None;
  // Opens weigh the keys' own descriptors. Always on for the default
  // registry; for a mounted hive file off unless turned on.
  bool accessChecks = true;
};

// The hive that base\sub lies in, without opening the key (so it answers for
// a key the caller may not open). For a master key with an empty sub: the
// mount named by sub's first component. ERROR_FILE_NOT_FOUND when no hive
// holds the path (a master key itself, HKEY_PERFORMANCE_DATA, an unknown
// mount).
LSTATUS mountStatusOf(HKEY base, const Path& sub, MountStatus* status);
// Every mount, the default registry's hives included.
std::vector<MountStatus> mountStatuses();
// Turns the weighing of the hive's own descriptors on or off for later opens
// (handles open already keep what they were granted). The default registry's
// hives are always checked: ERROR_ACCESS_DENIED for them.
LSTATUS setMountAccessChecks(HKEY root, std::u16string_view mountName, bool on);
LSTATUS unloadHive(HKEY root, std::u16string_view mountName);

// The file of the hive mounted under root (HKEY_LOCAL_MACHINE or HKEY_USERS)
// as mountName, every link resolved: the file that is read and written;
// `given`, when asked for, gets the name the mount was made with, which is
// the one to show. ERROR_FILE_NOT_FOUND when nothing is mounted there or the
// hive lives in memory only.
LSTATUS mountedHiveFile(HKEY root, std::u16string_view mountName, std::filesystem::path* file,
                        std::filesystem::path* given = nullptr);

// The folder of the default registry in use (opens it when not yet open).
std::filesystem::path registryFolder();
// Writes every changed hive now. Returns the first failure.
LSTATUS flushAll();
// Writes everything back, closes every handle and forgets the store; the
// next call opens the registry named by HIVESCOPE_REGISTRY afresh.
void shutdownForTests();
// How many key handles are open now (for tests that look for leaks).
std::size_t openHandleCountForTests();

}  // namespace platform::registry
