#pragma once

// Text measuring and clipboard text for the editor. The clipboard carries
// UTF-16 text; the 8-bit form is the platform's business.

#include <QFont>
#include <QSize>

#include <string>
#include <string_view>

namespace codeedit {

// The extent of Text in Font: advance width and line height.
QSize MeasureTextWide(const QFont& Font, std::u16string_view Text);
bool ClipboardProvidesText();
// Empty when the clipboard holds no text.
std::u16string GetClipboardWideText();
// An empty text leaves the clipboard as it was.
void SetClipboardWideText(std::u16string_view Text);

}  // namespace codeedit
