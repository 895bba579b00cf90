#include "core/bwlRegTools.h"

#include <array>
#include <memory>

#include "core/kxStrings.h"

using platform::HKEY;

TRegDataType RegTypeNameToRegDataType(std::string_view name) { return StrToRegDataType(name); }

void ValueTextToBytes(std::string_view text, TRegDataType kind, TRegByteArray& bytes) {
  switch (kind) {
    case rdBinary:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList: {
      // Each pair is followed by one separator; a trailing separator leaves a
      // last zero byte, an empty text gives one zero byte.
      bytes.assign(text.size() / 3 + 1, 0);
      std::size_t index = 0;
      while (!text.empty() && index < bytes.size()) {
        bytes[index++] = HexPairToByte(text.substr(0, 2));
        if (text.size() < 3) {
          text = {};
        } else {
          text.remove_prefix(3);
        }
      }
      return;
    }
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger: {
      const std::uint32_t v = DisplayTextToDWord(text);
      bytes.resize(4);
      for (int i = 0; i < 4; ++i) {
        const int shift = kind == rdBigEndianInteger ? 8 * (3 - i) : 8 * i;
        bytes[i] = static_cast<std::uint8_t>(v >> shift);
      }
      return;
    }
    case rdString:
    case rdExpandString:
    case rdUnknown:
      bytes.assign(text.begin(), text.end());
      return;
    default:
      return;
  }
}

int ValueTextDataSize(std::string_view text, TRegDataType kind) {
  switch (kind) {
    case rdString:
    case rdExpandString:
    case rdMultiString:
      return static_cast<int>(text.size());
    case rdBinary:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList:
      return static_cast<int>(text.size() / 3 + 1);
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger:
      return 4;
    case rdInt64:
    case rdLittleEndianInt64:
      return 8;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Root keys

namespace {

struct RootName {
  std::uint32_t handle;
  const char* longName;
  const char* shortName;
};

constexpr std::array<RootName, 7> kRoots{{
    {0x80000000u, "HKEY_CLASSES_ROOT", "HKCR"},
    {0x80000001u, "HKEY_CURRENT_USER", "HKCU"},
    {0x80000002u, "HKEY_LOCAL_MACHINE", "HKLM"},
    {0x80000003u, "HKEY_USERS", "HKUS"},
    {0x80000004u, "HKEY_PERFORMANCE_DATA", "HKPD"},
    {0x80000005u, "HKEY_CURRENT_CONFIG", "HKCC"},
    {0x80000006u, "HKEY_DYN_DATA", "HKDD"},
}};

const RootName* findRoot(HKEY root) {
  for (const auto& r : kRoots) {
    if (root.value == r.handle) return &r;
  }
  return nullptr;
}

// Handles are 32-bit numbers on the system these names come from.
std::string handleNumber(HKEY root) { return std::to_string(static_cast<std::uint32_t>(root.value)); }

bool isSameOrInside(const std::u16string& inner, const std::u16string& outer) {
  return inner == outer || (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
                            inner[outer.size()] == u'\\');
}

void applyViewByte(TMyRegistry& reg, ViewByte view) {
  if (view == ViewByte::v32) {
    reg.SetBitness(Bitness::x32);
  } else if (view == ViewByte::v64) {
    reg.SetBitness(Bitness::x64);
  }
}

std::unique_ptr<TMyRegistry> makeRegistry(HKEY root, Bitness bitness) {
  auto reg = std::make_unique<TMyRegistry>();
  reg->SetBitness(bitness);  // throws for anything but 32 or 64, before any open
  reg->SetRootKey(root);
  return reg;
}

}  // namespace

std::string RootKeyToLongName(HKEY root) {
  const RootName* r = findRoot(root);
  return r ? r->longName : handleNumber(root);
}

std::string RootKeyToShortName(HKEY root) {
  const RootName* r = findRoot(root);
  return r ? r->shortName : handleNumber(root);
}

HKEY NameToRootKey(std::string_view name) {
  for (const auto& r : kRoots) {
    if (name == r.longName || name == r.shortName) return HKEY(r.handle);
  }
  return HKEY();
}

bool SplitRegistryPath(std::string_view text, HKEY& root, std::string& keyPath, std::string& lastElement) {
  const auto first = text.find('\\');
  if (first == std::string_view::npos) return false;
  const HKEY found = NameToRootKey(text.substr(0, first));
  if (!found) return false;
  const auto last = text.rfind('\\');
  root = found;
  keyPath = std::string(text.substr(first, last - first + 1));
  lastElement = std::string(text.substr(last + 1));
  return true;
}

// ---------------------------------------------------------------------------
// One-call helpers

bool WriteRegistryString(HKEY root, const std::string& keyPath, const std::string& name, Bitness bitness,
                         const std::string& text) {
  return WriteRegistryStringOfKind(root, keyPath, name, bitness, rdString, text);
}

bool WriteRegistryStringOfKind(HKEY root, const std::string& keyPath, const std::string& name, Bitness bitness,
                               TRegDataType kind, const std::string& text) {
  auto reg = makeRegistry(root, bitness);
  if (!reg->OpenKey(keyPath, true)) return false;
  switch (kind) {
    case rdString: reg->WriteTypedString(name, text, rdString); return true;
    case rdExpandString: reg->WriteExpandString(name, text); return true;
    case rdMultiString: reg->WriteMultiString(name, text); return true;
    default: return false;
  }
}

bool ReadRegistryString(HKEY root, const std::string& keyPath, const std::string& name, Bitness bitness,
                        std::string& text) {
  auto reg = makeRegistry(root, bitness);
  if (!reg->OpenKeyReadOnly(keyPath)) return false;
  switch (reg->GetDataType(name)) {
    case rdString:
    case rdExpandString: text = reg->ReadString(name); return true;
    case rdMultiString: text = reg->ReadMultiString(name); return true;
    default: return false;
  }
}

bool WriteRegistryBinary(HKEY root, const std::string& keyPath, const std::string& name, Bitness bitness,
                         TRegDataType kind, MemoryStream& stream) {
  auto reg = makeRegistry(root, bitness);
  if (!reg->OpenKey(keyPath, true)) return false;
  stream.Position = 0;
  reg->WriteBinaryStream(name, kind, stream);
  return true;
}

bool WriteRegistryInteger(HKEY root, const std::string& keyPath, const std::string& name, Bitness bitness,
                          std::int32_t value) {
  auto reg = makeRegistry(root, bitness);
  if (!reg->OpenKey(keyPath, true)) return false;
  reg->WriteInteger(name, value);
  return true;
}

bool ReadRegistryBool(HKEY root, const std::string& keyPath, const std::string& name, bool& value) {
  auto reg = makeRegistry(root, Bitness::x32);
  if (!reg->OpenKeyReadOnly(keyPath)) return false;
  if (reg->GetDataType(name) != rdInteger) return false;
  value = reg->ReadInteger(name) != 0;
  return true;
}

bool WriteRegistryBool(HKEY root, const std::string& keyPath, const std::string& name, bool value) {
  auto reg = makeRegistry(root, Bitness::x32);
  if (!reg->OpenKey(keyPath, true)) return false;
  reg->WriteBool(name, value);
  return true;
}

bool WriteRegistryDateTime(HKEY root, const std::string& keyPath, const std::string& name, double value) {
  auto reg = makeRegistry(root, Bitness::x32);
  if (!reg->OpenKey(keyPath, true)) return false;
  reg->WriteFloat(name, value);
  return true;
}

namespace {

template <class ListFn>
bool listNames(HKEY root, const std::string& keyPath, std::vector<std::string>* list, Is64Flag is64, ListFn fill) {
  std::vector<std::string> own;
  std::vector<std::string>& target = list ? *list : own;
  try {
    auto reg = makeRegistry(root, is64 != Is64Flag::no ? Bitness::x64 : Bitness::x32);
    if (!reg->OpenKey(keyPath, false)) return false;
    fill(*reg, target);
    return true;
  } catch (...) {
    target.clear();
    return false;
  }
}

}  // namespace

bool GetRegistryValueNames(HKEY root, const std::string& keyPath, std::vector<std::string>* list, Is64Flag is64) {
  return listNames(root, keyPath, list, is64,
                   [](TMyRegistry& reg, std::vector<std::string>& out) { reg.GetValueNames(out); });
}

bool GetRegistryKeyNames(HKEY root, const std::string& keyPath, std::vector<std::string>* list, Is64Flag is64) {
  return listNames(root, keyPath, list, is64,
                   [](TMyRegistry& reg, std::vector<std::string>& out) { reg.GetKeyNames(out); });
}

bool RenameRegistryValue(HKEY root, const std::string& keyPath, const std::string& oldName, bool overwrite,
                         const std::string& newName, Bitness bitness) {
  try {
    auto reg = makeRegistry(root, bitness);
    if (!reg->OpenKey(keyPath, true)) return false;
    if (!reg->ValueExists(oldName)) return false;
    if (RegistryNameKey(oldName) == RegistryNameKey(newName)) {
      // The registry sees one value under both names: renaming it onto itself
      // must not delete it.
      return overwrite;
    }
    if (reg->ValueExists(newName) && !overwrite) return false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (!reg->readRawValue(oldName, type, data)) return false;
    // Overwriting the target in place keeps it until the new data is there.
    reg->writeRawValue(newName, type, data);
    return reg->DeleteValue(oldName);
  } catch (...) {
    return false;
  }
}

bool RenameRegistryKey(HKEY root, const std::string& oldPath, const std::string& newPath, bool overwrite,
                       Bitness bitness) {
  try {
    auto reg = makeRegistry(root, bitness);
    if (!reg->KeyExists(oldPath)) return false;
    const std::u16string from = RegistryPathKey(oldPath);
    const std::u16string to = RegistryPathKey(newPath);
    if (from == to) return overwrite;  // the same key: nothing to move, nothing to lose
    // Either inside the other: deleting the target would take the source with
    // it, or the copy would land in its own sub-tree.
    if (isSameOrInside(to, from) || isSameOrInside(from, to)) return false;
    if (reg->KeyExists(newPath)) {
      if (!overwrite) return false;
      if (!reg->DeleteKey(newPath)) return false;
    }
    reg->MoveKey(oldPath, newPath, true);
    return !reg->KeyExists(oldPath) && reg->KeyExists(newPath);
  } catch (...) {
    return false;
  }
}

bool DeleteRegistryKey(HKEY root, const std::string& keyPath, ViewByte view) {
  try {
    TMyRegistry reg;
    reg.SetRootKey(root);
    applyViewByte(reg, view);
    if (!reg.KeyExists(keyPath)) return false;
    return reg.DeleteKey(keyPath);
  } catch (...) {
    return false;
  }
}

bool CreateRegistryKey(HKEY root, const std::string& keyPath, ViewByte view) {
  try {
    TMyRegistry reg;
    reg.SetRootKey(root);
    applyViewByte(reg, view);
    return reg.OpenKey(keyPath, true);
  } catch (...) {
    return false;
  }
}

bool DeleteRegistryValue(HKEY root, const std::string& keyPath, const std::string& name, ViewByte view) {
  try {
    TMyRegistry reg;
    reg.SetRootKey(root);
    applyViewByte(reg, view);
    if (!reg.OpenKey(keyPath, false)) return false;
    if (!reg.ValueExists(name)) return false;
    return reg.DeleteValue(name);
  } catch (...) {
    return false;
  }
}

bool RegistryValueExists(HKEY root, const std::string& keyPath, const std::string& name, ViewByte view) {
  try {
    TMyRegistry reg;
    reg.SetRootKey(root);
    applyViewByte(reg, view);
    if (!reg.OpenKeyReadOnly(keyPath)) return false;
    return reg.ValueExists(name);
  } catch (...) {
    return false;
  }
}

bool RegistryKeyExists(HKEY root, const std::string& keyPath, ViewByte view) {
  try {
    TMyRegistry reg;
    reg.SetRootKey(root);
    applyViewByte(reg, view);
    return reg.KeyExists(keyPath);
  } catch (...) {
    return false;
  }
}

void CopyRegistryValue(HKEY sourceRoot, const std::string& sourcePath, const std::string& sourceName, bool move,
                       const std::string& targetName, const std::string& targetPath, HKEY targetRoot) {
  // One value under both names: a copy changes nothing and a move would
  // delete the only copy.
  if (sourceRoot == targetRoot && RegistryPathKey(sourcePath) == RegistryPathKey(targetPath) &&
      RegistryNameKey(sourceName) == RegistryNameKey(targetName))
    return;
  auto source = makeRegistry(sourceRoot, Bitness::x32);
  auto target = makeRegistry(targetRoot, Bitness::x32);
  if (!source->OpenKey(sourcePath, false)) return;
  if (!target->OpenKey(targetPath, true)) return;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (!source->readRawValue(sourceName, type, data)) return;
  // The bytes go across under their own type number, so no kind is turned
  // into another (REG_NONE stays REG_NONE, a custom number stays itself).
  target->writeRawValue(targetName, type, data);
  if (move && RegTypeToRegDataType(type) != rdUnknown) source->DeleteValue(sourceName);
}

bool CopyRegistryKey(HKEY root, const std::string& sourcePath, HKEY targetRoot, const std::string& targetPath,
                     bool deleteSource) {
  try {
    auto reg = makeRegistry(root, Bitness::x32);
    reg->MoveKey(sourcePath, targetPath, deleteSource);
    return true;
  } catch (...) {
    return false;
  }
}
