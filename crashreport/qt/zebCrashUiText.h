#pragma once

// The crash reporter's texts on the screen: UTF-8 with CR LF line breaks.

#include <QString>

#include <string>

namespace zeb {

inline QString CrashUiText(const std::string& text) {
  QString out = QString::fromUtf8(text.data(), qsizetype(text.size()));
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return out;
}

}  // namespace zeb
