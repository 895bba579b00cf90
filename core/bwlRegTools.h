#pragma once

// One-call registry helpers, the names of the root keys, and the conversions
// between value display texts and bytes; .reg export and import.

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/RegFileParser.h"
#include "core/RegText.h"
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

// In the given view (32-bit unless told). True when renamed. Onto an existing
// name only with overwrite; onto the same name (ignoring case) with overwrite
// it is a successful no-op. The new value is written before anything is
// deleted. Catches.
bool RenameRegistryValue(platform::HKEY root, const std::string& keyPath, const std::string& oldName, bool overwrite,
                         const std::string& newName, Bitness bitness = Bitness::x32);
// In the given view (32-bit unless told). Moves the key with its sub-tree; an existing target is replaced
// only with overwrite. The same path (ignoring case) with overwrite is a
// successful no-op; a path inside the other is refused. Catches.
bool RenameRegistryKey(platform::HKEY root, const std::string& oldPath, const std::string& newPath, bool overwrite,
                       Bitness bitness = Bitness::x32);
// Recursive; false when the key is missing. Catches.
bool DeleteRegistryKey(platform::HKEY root, const std::string& keyPath, ViewByte view);
bool CreateRegistryKey(platform::HKEY root, const std::string& keyPath, ViewByte view);
// True when the value was deleted; false when it is missing or the delete
// failed (access denied, a read-only hive). Catches.
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

// ---------------------------------------------------------------------------
// .reg files: export and import. The text forms themselves (value lines, hex
// lists, escapes, data forms) are in core/RegText.h; the line parser in
// core/RegFileParser.h.

// An export makes the bytes of the file: `out` receives them (8-bit text for
// version 4, UTF-16LE for version 5 when `unicode`); the file forms write them
// out piece by piece as they are made. Each sub-key is opened relative to its
// parent, in the 64-bit view when is64 is set. A failure inside one key or
// value becomes a comment line in the text; nothing is thrown to the caller.

// What an export of key trees could not write. A value whose data (or name)
// cannot be read is named in a comment line where its value line would be,
// and counted; the key's other values are written all the same. So is a key
// or value whose name no .reg line can hold (a key name with a line break or
// a NUL, a value name with a line break; a key is left out with its sub-keys).
struct RegExportResult {
  std::size_t unreadableValues = 0;
  std::string firstUnreadable;  // "[HKEY_...\path] "name"" of the first
  std::size_t leftOut = 0;
  std::string firstLeftOut;     // "[HKEY_...\path] key "name"" of the first
  bool complete() const { return unreadableValues == 0 && leftOut == 0; }
  // "<n> value(s) could not be read; the first, <where>", then "<n> name(s)
  // no .reg line can hold left out; the first, <where>", joined by "; "; or "".
  std::string text() const;
};

// One key section with the key's values and, when recursive, the trees of its
// sub-keys after them (depth first, in enumeration order). A key that does not
// open leaves its section line alone.
RegExportResult ExportRegistryKeyTree(platform::HKEY root, const std::string& keyPath, std::string& out,
                                      bool unicode, Is64Flag is64, bool recursive);
RegExportResult ExportRegistryKey(platform::HKEY root, const std::string& keyPath, std::string& out, bool unicode,
                                  Is64Flag is64);
// The section line and the lines of the named values, in the given order.
void ExportRegistryValues(platform::HKEY root, const std::string& keyPath, std::span<const std::string> names,
                          std::string& out, bool unicode, Is64Flag is64);
void ExportRegistryValue(platform::HKEY root, const std::string& keyPath, const std::string& name, std::string& out,
                         bool unicode, Is64Flag is64);
// One value line of the registry object's open key, CR LF included.
void WriteRegFileValue(TMyRegistry& registry, const std::string& name, std::string& out, bool unicode,
                       Is64Flag is64);
// A whole file (header, one tree per root and path, final CR LF), replacing
// any file of that name. Arrays of different lengths write nothing. Each path
// is cleaned first (runs of backslashes collapsed, a trailing one dropped, a
// leading one added); an empty path is skipped, and the path "\" is the whole
// root. Whatever one key's export throws is swallowed. A file that cannot be
// written throws sup::EStreamError. A version-4 file is in RegFile4CodePage.
RegExportResult ExportRegistryKeysToFile(std::span<const platform::HKEY> roots,
                                         std::span<const std::string> keyPaths,
                                         const std::filesystem::path& fileName, bool unicode, Is64Flag is64,
                                         bool recursive);
RegExportResult ExportRegistryKeyToFile(platform::HKEY root, const std::string& keyPath,
                                        const std::filesystem::path& fileName, bool unicode, Is64Flag is64,
                                        bool recursive);

// Adds the .reg entry of a value held in a memory stream (its whole content,
// whatever its position) to the list: "@=" or the quoted name and "=", then the
// data by kind. String data is 8-bit text. rdUnknown and rdNone add nothing.
void StreamToRegFileLine(const MemoryStream& data, const std::string& name, TRegDataType kind,
                         std::vector<std::string>& list);

// Reads .reg text and reports its sections and value lines through the
// events; with FWriteToRegistry set it also applies them to the registry
// (32-bit view): sections are created (or deleted with their sub-keys, for
// "[-...]"), values written in one call each, or deleted.
//
// Failures: a section whose key cannot be opened or created skips its value
// lines and is counted in Failures(), and so is a section whose path holds a
// NUL (cut there, it would name another key) and a delete section whose path
// is empty after its root or ends in a backslash (it deletes nothing: such a
// path names the parent); a value line of no known form or with
// malformed data writes nothing. A write or delete the registry refuses throws
// ERegistryException naming the value and the key, and the import stops there.
// The sections of an import whose key could not be opened or created (an
// unknown root, a hive that cannot be written, a path nested too deep): their
// value lines were not written.
struct RegImportFailures {
  std::size_t sections = 0;
  std::string firstKey;    // the first such section's key, "HKEY_LOCAL_MACHINE\..."
  std::string firstError;  // why, as the system words it
  // Value lines in open sections whose data is of no known form or malformed:
  // nothing was written for them.
  std::size_t unusableValues = 0;
  bool any() const { return sections != 0 || unusableValues != 0; }
  // "<n> section(s) not written; the first, [<key>]: <error>", then
  // "<n> value line(s) could not be used", joined by "; "; or "".
  std::string text() const;
};

class TMyRegistryReader : private RegFileSink {
public:
  using TKeyEvent = std::function<void(platform::HKEY rootKey, const std::string& keyPath, bool deleted)>;
  using TValueEvent =
      std::function<void(platform::HKEY rootKey, const std::string& keyPath, bool deleted, const std::string& rawData,
                         const std::string& dataText, TRegDataType dataType, const std::string& valueName)>;
  using TProgressEvent = std::function<void(int lineIndex, int lastLineIndex)>;

  TMyRegistryReader();
  ~TMyRegistryReader() override;
  TMyRegistryReader(const TMyRegistryReader&) = delete;
  TMyRegistryReader& operator=(const TMyRegistryReader&) = delete;

  TMyRegistry FRegistry;
  bool FWriteToRegistry = false;
  TKeyEvent OnKey;
  TValueEvent OnValue;
  // When false, OnValue gets dword data as a decimal number text.
  bool FKeepDWordText = true;
  platform::HKEY FCurrentRootKey;
  std::string FCurrentKeyPath;
  TProgressEvent OnProgress;

  // Reads a file of either version (see ReadRegFileLines). False when the file
  // does not exist or is no .reg text: nothing is read then.
  bool LoadFromFile(const std::filesystem::path& fileName);
  // The lines from index 1 on; the first line, the header, says the version.
  void ImportStrings(const std::vector<std::string>& lines);
  // One complete value line, in the current section.
  void ProcessValueLine(const std::string& line);
  void DoKey(platform::HKEY rootKey, const std::string& keyPath, bool deleted);
  void DoValue(platform::HKEY rootKey, const std::string& keyPath, bool deleted, const std::string& rawData,
               std::string dataText, TRegDataType dataType, const std::string& valueName);

  // What the last import could not write (reset by each ImportStrings).
  const RegImportFailures& Failures() const { return failures_; }

  // RegHexDigitsToText for text of unknown version; StripRegHexPrefix.
  static std::string HexToText(std::string_view digits);
  static std::string StripHexPrefix(std::string_view text);

private:
  bool regKey(std::string_view rootName, std::string_view keyPath, bool deleted) override;
  void regValue(const RegFileValueLine& value) override;
  void regProgress(std::size_t lineIndex, std::size_t lastLineIndex) override;
  void applyValue(const RegFileValueLine& value);
  // Resets the state of one import and makes its parser.
  RegFileParser beginImport(RegFileVersion version);

  RegFileVersion version_ = RegFileVersion::unknown;
  bool keyOpen_ = false;
  RegImportFailures failures_;
};

// The import of a .reg file as one call: a reader that writes, with no events.
// Throws as the reader. The two-argument form is false when the file does not
// exist or is no .reg text; `failures` receives what could not be written (an
// import with any is no success, though it wrote what it could). The
// one-argument form is true only for a complete import: false as well when
// any section or value line could not be written.
bool ImportRegFile(const std::filesystem::path& fileName);
bool ImportRegFile(const std::filesystem::path& fileName, RegImportFailures& failures);

// ---------------------------------------------------------------------------
// Key security: the report and the NULL DACL.

// What the NULL DACL tells the user when the key refuses it.
class InformationBox {
public:
  virtual ~InformationBox() = default;
  // A modal information box with an OK button.
  virtual void showInformation(const std::string& text) = 0;
};

// Everything that can be learnt about the key's security, as report lines:
// the key's sizes and last write, then its DACL, group, owner and SACL, each
// decoded as far as it can be read. Failures are lines beginning "- ", never
// exceptions; a key that does not open gives two lines.
std::vector<std::string> GetKeyAccessReport(platform::HKEY root, const std::string& keyPath, TRegistryView view);

// Gives the key a NULL DACL (full access for everyone). Nothing happens when
// the key does not open for changing its DACL; a refused change is told
// through `box`.
void SetKeyNullDacl(platform::HKEY root, const std::string& keyPath, TRegistryView view, InformationBox& box);
