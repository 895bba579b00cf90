#pragma once

// A registry for the key tree tests: keys by root and path, each visible in
// the 32-bit view, the 64-bit view or both, with a last write time.

#include <QString>
#include <QStringList>

#include <map>
#include <set>
#include <tuple>

#include "app/KeyLister.h"

class FakeKeyLister : public KeyLister {
public:
  bool wow64 = true;
  int listCalls = 0;

  // `path` without a leading backslash, e.g. "SOFTWARE\\Classes". Parents are added too.
  void add(platform::HKEY root, const QString& path, bool in32 = true, bool in64 = true, std::uint64_t time = 0) {
    QString p;
    for (const QString& part : path.split(u'\\')) {
      p += u'\\' + part;
      if (in32) keys_[{root, p.toLower(), false}] = {p, time};
      if (in64) keys_[{root, p.toLower(), true}] = {p, time};
    }
  }

  std::optional<QStringList> subKeyNames(platform::HKEY root, const QString& keyPath, TRegistryView view) override {
    ++listCalls;
    const QString base = norm(keyPath);
    if (!base.isEmpty() && !exists(root, base, view == rv64Bit)) return std::nullopt;
    QStringList names;
    for (const auto& [k, v] : keys_) {
      if (std::get<0>(k) != root || std::get<2>(k) != (view == rv64Bit)) continue;
      const QString& full = v.first;
      if (full.size() <= base.size() + 1 || !full.startsWith(base + u'\\', Qt::CaseInsensitive)) continue;
      const QString rest = full.mid(base.size() + 1);
      if (!rest.contains(u'\\')) names << rest;
    }
    return names;
  }
  bool hasSubKeys(platform::HKEY root, const QString& keyPath, TRegistryView view) override {
    auto names = subKeyNames(root, keyPath, view);
    return names && !names->isEmpty();
  }
  std::optional<std::uint64_t> lastWriteTime(platform::HKEY root, const QString& keyPath, TRegistryView view) override {
    auto it = keys_.find({root, norm(keyPath).toLower(), view == rv64Bit});
    if (it == keys_.end()) return std::nullopt;
    return it->second.second;
  }
  bool keyExists(platform::HKEY root, const QString& keyPath, bool view64) override {
    if (root == platform::HKEY()) return false;
    const QString p = norm(keyPath);
    return p.isEmpty() ? false : exists(root, p, view64);
  }
  bool isWow64() override { return wow64; }

private:
  static QString norm(QString p) {
    if (!p.startsWith(u'\\')) p.prepend(u'\\');
    while (p.endsWith(u'\\')) p.chop(1);
    return p;
  }
  bool exists(platform::HKEY root, const QString& p, bool view64) const {
    return keys_.count({root, p.toLower(), view64}) != 0;
  }
  std::map<std::tuple<platform::HKEY, QString, bool>, std::pair<QString, std::uint64_t>> keys_;
};
