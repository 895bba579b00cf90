#include "unicode/UniRegistry.h"

#include <vector>

#include "platform/Text.h"

namespace uni {

using namespace platform;

TUniRegistry::TUniRegistry(HKEY RootKey) : FRootKey(RootKey) {}

TUniRegistry::~TUniRegistry() { CloseKey(); }

void TUniRegistry::SetRootKey(HKEY Value) {
  if (Value == FRootKey) return;
  CloseKey();
  FRootKey = Value;
}

bool TUniRegistry::open(std::u16string_view key, bool create, REGSAM access) {
  HKEY base = FCurrentKey ? FCurrentKey : FRootKey;
  if (!key.empty() && key.front() == u'\\') {
    base = FRootKey;
    key.remove_prefix(1);
  }
  const std::u16string path(key);  // the calls take NUL-terminated names
  HKEY opened{};
  const LSTATUS rc = create ? RegCreateKeyExW(base, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                              nullptr, &opened, nullptr)
                            : RegOpenKeyExW(base, path.c_str(), 0, access, &opened);
  if (rc != ERROR_SUCCESS) return false;
  CloseKey();
  FCurrentKey = opened;
  return true;
}

bool TUniRegistry::OpenKey(std::u16string_view Key, bool CanCreate) {
  return open(Key, CanCreate, KEY_ALL_ACCESS);
}

bool TUniRegistry::OpenKeyReadOnly(std::u16string_view Key) { return open(Key, false, KEY_READ); }

void TUniRegistry::CloseKey() {
  if (FCurrentKey) RegCloseKey(FCurrentKey);
  FCurrentKey = HKEY{};
}

std::u16string TUniRegistry::ReadString(std::u16string_view Name) {
  const std::u16string name(Name);
  const HKEY key = FCurrentKey ? FCurrentKey : FRootKey;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw ERegistryException("Invalid data type for '" + wideToAnsi(Name) + "'");
  // An odd size rounds up to whole units, so the last byte has room too.
  std::vector<char16_t> buffer((size + 1) / 2 + 1, u'\0');
  DWORD bytes = static_cast<DWORD>((size + 1) / 2 * 2);
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
      ERROR_SUCCESS)
    throw ERegistryException("Failed to get data for '" + wideToAnsi(Name) + "'");
  // A last odd byte is the low half of a unit whose high half stays zero.
  std::u16string_view text(buffer.data(), (bytes + 1) / 2);
  return std::u16string(text.substr(0, text.find(u'\0')));
}

}  // namespace uni
