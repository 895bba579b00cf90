#include "app/QtText.h"

#include "core/CommaText.h"
#include "core/kxStrings.h"
#include "platform/Text.h"

#include <vector>

QString ansiToQString(std::string_view text) { return QString::fromStdU16String(platform::ansiToWide(text)); }

std::string qStringToAnsi(const QString& text) { return platform::wideToAnsi(text.toStdU16String()); }

QString ShownKeyName(const QString& rawName) {
  // Through WTF-8 rather than the active code page: a code page such as 1252
  // would turn every character it lacks into '?'.
  return QString::fromStdU16String(
      platform::wtf8ToUtf16(ShowNulChars(platform::utf16ToWtf8(rawName.toStdU16String()))));
}

QString JoinCommaText(const QStringList& fields) {
  std::vector<std::u16string> wide;
  wide.reserve(static_cast<std::size_t>(fields.size()));
  for (const QString& f : fields) wide.push_back(f.toStdU16String());
  return QString::fromStdU16String(JoinCommaText(std::span<const std::u16string>(wide)));
}

QStringList SplitCommaText(const QString& text) {
  QStringList out;
  for (const std::u16string& f : SplitCommaText(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                                     static_cast<std::size_t>(text.size())))) {
    out << QString::fromStdU16String(f);
  }
  return out;
}
