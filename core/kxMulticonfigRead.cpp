#include "core/kxMulticonfigRead.h"

using namespace platform;

std::vector<std::string>& UsersSubKeys() {
  static std::vector<std::string> names = [] {
    std::vector<std::string> list;
    TMyRegistry reg;
    reg.SetRootKey(HKEY_USERS);
    if (reg.OpenKeyReadOnly("")) reg.GetKeyNames(list);
    return list;
  }();
  return names;
}

int TMultiConfigReader::AddRootKey(HKEY root) {
  FRootKeys.push_back(root);
  return static_cast<int>(FRootKeys.size()) - 1;
}

template <class T, class ReadFn>
bool TMultiConfigReader::read(const std::string& name, std::uint32_t regType, T& value, ReadFn readFn) const {
  bool found = false;
  TMyRegistry reg;
  for (auto root = FRootKeys.rbegin(); root != FRootKeys.rend(); ++root) {
    reg.SetRootKey(*root);
    std::vector<std::string> prefixes;
    if (*root == HKEY_USERS) {
      for (const auto& user : UsersSubKeys()) prefixes.push_back("\\" + user);
    } else {
      prefixes.emplace_back();
    }
    for (const auto& prefix : prefixes) {
      for (const auto& path : FKeyPaths) {
        if (!reg.OpenKeyReadOnly(prefix + path)) continue;
        TMyRegDataInfo info;
        if (reg.GetDataInfo(name, info) && info.RegType == regType) {
          value = readFn(reg);
          found = true;
        }
        reg.CloseKey();
      }
    }
  }
  return found;
}

bool TMultiConfigReader::ReadBool(const std::string& name, bool& value) const {
  return read(name, REG_DWORD, value, [&](TMyRegistry& reg) { return reg.ReadBool(name); });
}

bool TMultiConfigReader::ReadInteger(const std::string& name, std::int32_t& value) const {
  return read(name, REG_DWORD, value, [&](TMyRegistry& reg) { return reg.ReadInteger(name); });
}

bool TMultiConfigReader::ReadFloat(const std::string& name, double& value) const {
  return read(name, REG_BINARY, value, [&](TMyRegistry& reg) { return reg.ReadFloat(name); });
}

bool TMultiConfigReader::ReadString(const std::string& name, std::string& value) const {
  return read(name, REG_SZ, value, [&](TMyRegistry& reg) { return reg.ReadString(name); });
}

namespace {

template <class T, class Member>
bool multiRead(const std::vector<HKEY>& roots, const std::vector<std::string>& keyPaths, const std::string& name,
               T& value, Member member) {
  TMultiConfigReader reader;
  for (HKEY root : roots) reader.AddRootKey(root);
  for (const auto& path : keyPaths) reader.FKeyPaths.push_back(path);
  return (reader.*member)(name, value);
}

}  // namespace

bool MultiReadBool(const std::vector<HKEY>& roots, const std::vector<std::string>& keyPaths, const std::string& name,
                   bool& value) {
  return multiRead(roots, keyPaths, name, value, &TMultiConfigReader::ReadBool);
}

bool MultiReadInteger(const std::vector<HKEY>& roots, const std::vector<std::string>& keyPaths,
                      const std::string& name, std::int32_t& value) {
  return multiRead(roots, keyPaths, name, value, &TMultiConfigReader::ReadInteger);
}

bool MultiReadFloat(const std::vector<HKEY>& roots, const std::vector<std::string>& keyPaths, const std::string& name,
                    double& value) {
  return multiRead(roots, keyPaths, name, value, &TMultiConfigReader::ReadFloat);
}

bool MultiReadString(const std::vector<HKEY>& roots, const std::vector<std::string>& keyPaths,
                     const std::string& name, std::string& value) {
  return multiRead(roots, keyPaths, name, value, &TMultiConfigReader::ReadString);
}
