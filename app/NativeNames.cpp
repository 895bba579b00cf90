#include "app/NativeNames.h"

#include <QHash>

#include <cstring>
#include <vector>

#include "platform/NtRegistry.h"

namespace {

QStringList rawNames(const sup::TWideStringList& list) {
  QStringList out;
  out.reserve(list.GetCount());
  // The raw form, not the normalised one: it is the name the registry knows.
  for (int i = 0; i < list.GetCount(); ++i) out << QString::fromStdU16String(list.rawString(i));
  return out;
}

}  // namespace

QStringList MergeNativeNames(QStringList ordinary, const QStringList& native, bool appendNativeOnly) {
  // Case-folded ordinary names with their number of entries: one hash lookup
  // per native name instead of a search through a list of 100,000.
  QHash<QString, int> present;
  present.reserve(ordinary.size());
  for (const QString& name : ordinary) ++present[name.toCaseFolded()];

  std::vector<bool> keep(static_cast<std::size_t>(native.size()), true);
  for (qsizetype i = native.size() - 1; i >= 0; --i) {
    if (present.contains(native[i].toCaseFolded())) keep[static_cast<std::size_t>(i)] = false;
  }
  for (qsizetype i = native.size() - 1; i >= 0; --i) {
    if (!keep[static_cast<std::size_t>(i)]) continue;
    const QString& name = native[i];
    const qsizetype nul = name.indexOf(QChar(u'\0'));
    if (nul < 0) continue;
    const QString cut = name.left(nul).toCaseFolded();
    auto it = present.find(cut);
    if (it == present.end() || it.value() == 0) continue;
    for (qsizetype j = 0; j < ordinary.size(); ++j) {
      if (ordinary[j].toCaseFolded() == cut) {
        ordinary.removeAt(j);
        break;
      }
    }
    if (--it.value() == 0) present.erase(it);
    ordinary << name;
    keep[static_cast<std::size_t>(i)] = false;
  }
  if (appendNativeOnly) {
    for (qsizetype i = 0; i < native.size(); ++i)
      if (keep[static_cast<std::size_t>(i)]) ordinary << native[i];
  }
  return ordinary;
}

QStringList NativeValueNames(TNtRegistry& reg) {
  sup::TWideStringList list;
  reg.GetValueNames(list);
  return rawNames(list);
}

QStringList NativeKeyNames(TNtRegistry& reg) {
  sup::TWideStringList list;
  reg.GetKeyNames(list);
  return rawNames(list);
}

namespace {

std::optional<QString> nameOfHandle(platform::HANDLE handle) {
  using namespace platform;
  if (!handle) return std::nullopt;
  ULONG needed = 0;
  NTSTATUS st = NtQueryKey(handle, KeyNameInformation, nullptr, 0, &needed);
  if (needed < sizeof(ULONG)) return std::nullopt;
  std::vector<std::uint8_t> buffer(needed);
  st = NtQueryKey(handle, KeyNameInformation, buffer.data(), needed, &needed);
  if (st != STATUS_SUCCESS || needed > buffer.size()) return std::nullopt;
  ULONG bytes = 0;
  std::memcpy(&bytes, buffer.data(), sizeof bytes);
  const std::size_t head = offsetof(KEY_NAME_INFORMATION, Name);
  if (bytes > buffer.size() - head) return std::nullopt;
  std::u16string name(bytes / 2, u'\0');
  std::memcpy(name.data(), buffer.data() + head, name.size() * 2);
  return QString::fromStdU16String(name);
}

}  // namespace

std::optional<QString> NativeKeyName(platform::HKEY key) { return nameOfHandle(platform::HANDLE(key)); }

bool SameKey(platform::HKEY ordinary, const TNtRegistry& native) {
  const auto a = NativeKeyName(ordinary);
  const auto b = nameOfHandle(native.KeyHandle());
  return a && b && a->compare(*b, Qt::CaseInsensitive) == 0;
}
