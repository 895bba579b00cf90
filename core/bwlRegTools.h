#pragma once

// One-call registry helpers, the names of the root keys, and the conversions
// between value display texts and bytes.

#include <string>
#include <string_view>
#include <vector>

#include "core/bwlRegistry.h"

// The same mapping as StrToRegDataType; both exist for different callers.
TRegDataType RegTypeNameToRegDataType(std::string_view name);

// The bytes a display text stands for (the hex dump of the .reg view uses it).
// Hex kinds: "01 02 03" -> 01 02 03, length div 3 + 1 bytes; 32-bit kinds: the
// number as four bytes (big-endian for rdBigEndianInteger); strings and
// rdUnknown: one byte per character; rdNone, rdMultiString, the 64-bit kinds
// and rdCardinal leave `bytes` as passed.
void ValueTextToBytes(std::string_view text, TRegDataType kind, TRegByteArray& bytes);
// The byte count the hex dump shows for a display text. It can be larger than
// what ValueTextToBytes gives (multi-strings and the 64-bit kinds give no bytes).
int ValueTextDataSize(std::string_view text, TRegDataType kind);

// ---------------------------------------------------------------------------
// Root keys

// "HKEY_LOCAL_MACHINE", ...; any other handle by its unsigned decimal number.
std::string RootKeyToLongName(platform::HKEY root);
// "HKLM", ...; the users root is "HKUS".
std::string RootKeyToShortName(platform::HKEY root);
// The long or the short name, compared exactly; anything else gives a null key.
platform::HKEY NameToRootKey(std::string_view name);
// "HKCU\Software\X" -> root HKCU, key path "\Software\", last element "X".
// False when the text holds no backslash or the root name is unknown.
bool SplitRegistryPath(std::string_view text, platform::HKEY& root, std::string& keyPath, std::string& lastElement);

// ---------------------------------------------------------------------------
// One-call helpers. Each makes its own registry object, sets the root and the
// view, does one thing and frees the object. "Raises": ERegistryException
// passes to the caller (and a bitness other than 32 or 64 throws before
// anything is opened). "Catches": every failure becomes the result false.

// Raises.
bool WriteRegistryString(platform::HKEY root, const std::string& keyPath, const std::string& name, Bitness bitness,
                         const std::string& text);
// rdString, rdExpandString or rdMultiString (CR LF-separated text); false for
// any other kind, though the key is still created. Raises.
bool WriteRegistryStringOfKind(platform::HKEY root, const std::string& keyPath, const std::string& name,
                               Bitness bitness, TRegDataType kind, const std::string& text);
// Strings and multi-strings (lines joined by CR LF); false and text unchanged
// for another kind, a missing value or a key that does not open. Raises.
bool ReadRegistryString(platform::HKEY root, const std::string& keyPath, const std::string& name, Bitness bitness,
                        std::string& text);
// Rewinds the stream and writes its whole content under kind. Raises.
bool WriteRegistryBinary(platform::HKEY root, const std::string& keyPath, const std::string& name, Bitness bitness,
                         TRegDataType kind, MemoryStream& stream);
bool WriteRegistryInteger(platform::HKEY root, const std::string& keyPath, const std::string& name, Bitness bitness,
                          std::int32_t value);
// 32-bit view; true when a REG_DWORD was read. Raises.
bool ReadRegistryBool(platform::HKEY root, const std::string& keyPath, const std::string& name, bool& value);
bool WriteRegistryBool(platform::HKEY root, const std::string& keyPath, const std::string& name, bool value);
// The 8-byte double as REG_BINARY. Raises.
bool WriteRegistryDateTime(platform::HKEY root, const std::string& keyPath, const std::string& name, double value);

// The key opens with full access. A null list: the names go nowhere. Catches
// (the list is emptied).
bool GetRegistryValueNames(platform::HKEY root, const std::string& keyPath, std::vector<std::string>* list,
                           Is64Flag is64);
bool GetRegistryKeyNames(platform::HKEY root, const std::string& keyPath, std::vector<std::string>* list,
                         Is64Flag is64);

// 32-bit view. True when renamed. Onto an existing name only with overwrite;
// onto the same name (ignoring case) with overwrite it is a successful no-op.
// The new value is written before anything is deleted. Catches.
bool RenameRegistryValue(platform::HKEY root, const std::string& keyPath, const std::string& oldName, bool overwrite,
                         const std::string& newName);
// 32-bit view. Moves the key with its sub-tree; an existing target is replaced
// only with overwrite. The same path (ignoring case) with overwrite is a
// successful no-op; a path inside the other is refused. Catches.
bool RenameRegistryKey(platform::HKEY root, const std::string& oldPath, const std::string& newPath, bool overwrite);
// Recursive; false when the key is missing. Catches.
bool DeleteRegistryKey(platform::HKEY root, const std::string& keyPath, ViewByte view);
bool CreateRegistryKey(platform::HKEY root, const std::string& keyPath, ViewByte view);
// True when the value existed (whatever the delete gave). Catches.
bool DeleteRegistryValue(platform::HKEY root, const std::string& keyPath, const std::string& name, ViewByte view);
// Never throws.
bool RegistryValueExists(platform::HKEY root, const std::string& keyPath, const std::string& name, ViewByte view);
bool RegistryKeyExists(platform::HKEY root, const std::string& keyPath, ViewByte view);
// 32-bit view. Copies the value's bytes under its own type number (unknown
// numbers included) and, with move, deletes the source afterwards, except for a
// value of a type the program does not know (rdUnknown), whose source always
// stays. A copy onto itself does nothing. Raises.
void CopyRegistryValue(platform::HKEY sourceRoot, const std::string& sourcePath, const std::string& sourceName,
                       bool move, const std::string& targetName, const std::string& targetPath,
                       platform::HKEY targetRoot);
// TMyRegistry::MoveKey inside root; targetRoot is not used (a copy never
// leaves its root). True also when nothing was done; false on a failure.
bool CopyRegistryKey(platform::HKEY root, const std::string& sourcePath, platform::HKEY targetRoot,
                     const std::string& targetPath, bool deleteSource);
