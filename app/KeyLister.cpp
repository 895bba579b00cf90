#include "app/KeyLister.h"

#include <array>

namespace {

struct RootName {
  std::uint32_t handle;
  const char* longName;
  const char* shortName;
};

constexpr std::array<RootName, 7> kRoots = {{
    {rootkeys::kClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {rootkeys::kCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {rootkeys::kLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {rootkeys::kUsers, "HKEY_USERS", "HKUS"},
    {rootkeys::kPerformanceData, "HKEY_PERFORMANCE_DATA", "HKPD"},
    {rootkeys::kCurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
    {rootkeys::kDynData, "HKEY_DYN_DATA", "HKDD"},
}};

}  // namespace

QString RootKeyToLongName(std::uint32_t root) {
  for (const auto& r : kRoots)
    if (r.handle == root) return QString::fromLatin1(r.longName);
  return QString::number(root);
}

std::uint32_t NameToRootKey(const QString& name) {
  for (const auto& r : kRoots) {
    if (name == QLatin1String(r.longName) || name == QLatin1String(r.shortName)) return r.handle;
  }
  return 0;
}

QString ShowNulChars(const QString& text) {
  QString out = text;
  out.replace(QChar(u'\0'), QStringLiteral("<0x00>"));
  return out;
}
