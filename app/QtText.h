#pragma once

// Text across the boundary between the windows (QString, UTF-16) and the
// registry and core layers (8-bit text in the active code page,
// platform/Text.h).

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>

QString ansiToQString(std::string_view text);
std::string qStringToAnsi(const QString& text);

// The text a key node shows for a raw name: every NUL as "<0x00>" (core's
// ShowNulChars), with no loss of any other character whatever the active
// code page.
QString ShownKeyName(const QString& rawName);

// Comma text (core/CommaText.h) of QStrings.
QString JoinCommaText(const QStringList& fields);
QStringList SplitCommaText(const QString& text);
