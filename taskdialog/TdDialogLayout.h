#pragma once

// The measuring the dialog's layout is built from. Everything goes through a
// TTdTextMetrics, so layout runs with fixed numbers in tests.

#include <QFont>
#include <QSize>
#include <QString>
#include <QStringView>

#include "taskdialog/TdMessageTypes.h"
#include "taskdialog/TdUnicode.h"

// A × B ÷ C rounded to the nearest integer, halves away from zero, the
// product kept in 64 bits; 0 when C is 0.
int TdMulDiv(int A, int B, int C);

// A font's average character: the width of "A"…"Z" "a"…"z" divided by 52
// (integer division) and that text's height.
QSize TdAverageCharSize(const TTdTextMetrics& Metrics, const QFont& Font);

// The size of plain text (no hotkey marks) word-wrapped at Width: the
// widest line and the lines' total height. Lines break at blanks; a word
// longer than Width stands alone on its line and widens the result. CR LF,
// CR and LF break lines. An empty text is 0 × 0.
QSize TdWrappedTextSize(const TTdTextMetrics& Metrics, const QFont& Font, QStringView Text, int Width);

// The common buttons' size: at least 50 × average width ÷ 4 − 7 wide, and
// as wide as the widest caption of the kinds in Buttons + 8, so all buttons
// of a dialog are equally wide; 14 × average height ÷ 8 − 3 high.
// Caption widths are kept for the run by kind, caption and font, so a
// caption replaced at run time is measured anew and never clipped.
QSize TdCommonButtonSize(const TTdTextMetrics& Metrics, const QFont& Font, TCommonButtons Buttons);

// The current caption of a common button (its dialog string) and its modal
// result.
QString TdCommonButtonCaption(TCommonButton Button);
int TdCommonButtonResult(TCommonButton Button);
// The control name of a common button: "bYes", "bNo", …
QString TdCommonButtonName(TCommonButton Button);
