#pragma once

// Text measuring and clipboard text for the editor. The clipboard carries
// UTF-16 text; the 8-bit form is the platform's business.

#include <QFont>
#include <QSize>

class QMimeData;

#include <string>
#include <string_view>

#include "editor/CodeEditTypes.h"

namespace codeedit {

// The extent of Text in Font: advance width and line height.
QSize MeasureTextWide(const QFont& Font, std::u16string_view Text);
bool ClipboardProvidesText();
// Empty when the clipboard holds no text.
std::u16string GetClipboardWideText();
// An empty text leaves the clipboard as it was.
void SetClipboardWideText(std::u16string_view Text);

// The editor's private clipboard format: the selection mode in byte 0, then
// the text in the active code page with a 0, cut or padded so that the block
// is two bytes longer than the text has UTF-16 units. Readers use byte 0
// only; the text travels as ordinary text beside it.
inline constexpr const char* CodeEditClipboardFormat = "application/x-codeedit-control-block-type";
std::string CodeEditClipboardBlock(std::u16string_view Text, TCodeSelectionMode Mode);
// The text and the private block together; an empty text leaves the
// clipboard as it was.
void SetClipboardWideTextWithMode(std::u16string_view Text, TCodeSelectionMode Mode);

// The selection mode byte 0 of a private block carries; false without a
// block, or when byte 0 names no mode (a block from elsewhere is not trusted).
bool SelectionModeOfMimeData(const QMimeData* Data, TCodeSelectionMode& Mode);
bool GetClipboardSelectionMode(TCodeSelectionMode& Mode);

}  // namespace codeedit
