#include "taskdialog/TdDialogStrs.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "platform/Text.h"

namespace {

// The texts are 8-bit text in the active code page, which need not be UTF-8
// (HIVESCOPE_CODEPAGE); the lookup compares them as wide text.
QString ansiToQString(const std::string& text) { return QString::fromStdU16String(platform::ansiToWide(text)); }

std::array<std::string, DialogStrCount>& texts() {
  static std::array<std::string, DialogStrCount> table = {
      "Assigned source must be a TTdDialog",
      "You must associate a Help File with your application",
      "&Yes",
      "&No",
      "OK",
      "Cancel",
      "&Help",
      "&Abort",
      "&Retry",
      "&Ignore",
      "&All",
      "N&o to All",
      "Yes to &All",
      "&Close",
      "Confirmation",
      "Warning",
      "Error",
      "Information",
  };
  return table;
}

struct Entry {
  QString text;
  TdDialogStr id;
};

QCollator& collator() {
  static QCollator c = [] {
    QCollator col{QLocale()};
    col.setCaseSensitivity(Qt::CaseInsensitive);
    return col;
  }();
  return c;
}

// Kept sorted by the collator. Built lazily so a lookup before the first
// explicit rebuild still sees the start texts.
std::vector<Entry>& table() {
  static std::vector<Entry> entries;
  return entries;
}
bool& tableBuilt() {
  static bool built = false;
  return built;
}

}  // namespace

std::string LoadDialogString(TdDialogStr id) {
  if (id < 0 || id >= DialogStrCount) return {};
  return texts()[static_cast<std::size_t>(id)];
}

QString LoadDialogText(TdDialogStr id) { return ansiToQString(LoadDialogString(id)); }

void ReplaceDialogString(TdDialogStr id, std::string text) {
  if (id < 0 || id >= DialogStrCount) return;
  texts()[static_cast<std::size_t>(id)] = std::move(text);
}

void RebuildDialogStrings() {
  auto& entries = table();
  entries.clear();
  for (int i = 0; i < DialogStrCount; ++i) {
    Entry e{ansiToQString(texts()[static_cast<std::size_t>(i)]), static_cast<TdDialogStr>(i)};
    auto pos = std::lower_bound(entries.begin(), entries.end(), e.text,
                                [](const Entry& a, const QString& t) { return collator().compare(a.text, t) < 0; });
    // A text equal to one already present is ignored: the first string wins.
    if (pos != entries.end() && collator().compare(pos->text, e.text) == 0) continue;
    entries.insert(pos, std::move(e));
  }
  tableBuilt() = true;
}

std::optional<TdDialogStr> FindDialogString(const QString& text) {
  if (!tableBuilt()) RebuildDialogStrings();
  const auto& entries = table();
  std::size_t low = 0, high = entries.size();
  while (low < high) {
    const std::size_t mid = low + (high - low) / 2;
    const int c = collator().compare(entries[mid].text, text);
    if (c == 0) return entries[mid].id;
    if (c < 0)
      low = mid + 1;
    else
      high = mid;
  }
  return std::nullopt;
}
