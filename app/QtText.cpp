#include "app/QtText.h"

#include "core/kxStrings.h"
#include "platform/Text.h"

QString ansiToQString(std::string_view text) { return QString::fromStdU16String(platform::ansiToWide(text)); }

std::string qStringToAnsi(const QString& text) { return platform::wideToAnsi(text.toStdU16String()); }

QString ShownKeyName(const QString& rawName) {
  // Through WTF-8 rather than the active code page: a code page such as 1252
  // would turn every character it lacks into '?'.
  return QString::fromStdU16String(
      platform::wtf8ToUtf16(ShowNulChars(platform::utf16ToWtf8(rawName.toStdU16String()))));
}
