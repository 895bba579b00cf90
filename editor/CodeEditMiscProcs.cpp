#include "editor/CodeEditMiscProcs.h"

#include <cstdlib>

namespace codeedit {

namespace {

// The line as far as its first 0 character.
std::u16string_view untilZero(std::u16string_view Line) {
  const std::size_t zero = Line.find(u'\0');
  return zero == std::u16string_view::npos ? Line : Line.substr(0, zero);
}

int nextStopPowerOfTwo(int Column, int TabWidth) { return (Column + TabWidth) & ~(TabWidth - 1); }
int nextStopAnyWidth(int Column, int TabWidth) { return Column + TabWidth - Column % TabWidth; }

template <int (*NextStop)(int, int)>
std::u16string expandTabs(std::u16string_view Line, int TabWidth, bool& HasTabs) {
  int before = 0;
  HasTabs = GetHasTabs(Line, before);
  if (!HasTabs) return std::u16string(Line);
  if (TabWidth < 1) TabWidth = 1;
  const std::u16string_view text = untilZero(Line);
  std::u16string result(text.substr(0, static_cast<std::size_t>(before)));
  int column = before;
  for (std::size_t i = static_cast<std::size_t>(before); i < text.size(); ++i) {
    if (text[i] == u'\t') {
      const int stop = NextStop(column, TabWidth);
      result.append(static_cast<std::size_t>(stop - column), u'\t');
      column = stop;
    } else {
      result.push_back(text[i]);
      ++column;
    }
  }
  return result;
}

// Windows' MulDiv: the product in 64 bits, the quotient rounded half away from zero.
int mulDiv(int Number, int Numerator, int Denominator) {
  const long long product = static_cast<long long>(Number) * Numerator;
  const long long half = std::llabs(Denominator) / 2;
  const bool negative = (product < 0) != (Denominator < 0);
  const long long q = (std::llabs(product) + half) / std::llabs(Denominator);
  return static_cast<int>(negative ? -q : q);
}

}  // namespace

int MinMax(int Value, int Min, int Max) {
  if (Value > Max) Value = Max;
  return Value < Min ? Min : Value;
}

void SwapInt(int& A, int& B) {
  const int t = A;
  A = B;
  B = t;
}

TBufferCoord MinPoint(const TBufferCoord& P1, const TBufferCoord& P2) {
  if (P2.LinePos < P1.LinePos || (P2.LinePos == P1.LinePos && P2.CharPos < P1.CharPos)) return P2;
  return P1;
}

bool GetHasTabs(std::u16string_view Line, int& CharsBefore) {
  const std::u16string_view text = untilZero(Line);
  const std::size_t tab = text.find(u'\t');
  CharsBefore = static_cast<int>(tab == std::u16string_view::npos ? text.size() : tab);
  return tab != std::u16string_view::npos;
}

bool IsPowerOfTwo(int Value) {
  for (int p = 2; p <= 65536; p *= 2)
    if (Value == p) return true;
  return false;
}

std::u16string ConvertTabsWidthOne(std::u16string_view Line, int, bool& HasTabs) {
  int before = 0;
  HasTabs = GetHasTabs(Line, before);
  std::u16string result(Line);
  if (HasTabs)
    for (char16_t& c : result)
      if (c == u'\t') c = u' ';
  return result;
}

std::u16string ConvertTabsPowerOfTwo(std::u16string_view Line, int TabWidth, bool& HasTabs) {
  // Only a power of two may clear low bits; anything else takes the general stop.
  if (!IsPowerOfTwo(TabWidth)) return expandTabs<nextStopAnyWidth>(Line, TabWidth, HasTabs);
  return expandTabs<nextStopPowerOfTwo>(Line, TabWidth, HasTabs);
}

std::u16string ConvertTabsAnyWidth(std::u16string_view Line, int TabWidth, bool& HasTabs) {
  return expandTabs<nextStopAnyWidth>(Line, TabWidth, HasTabs);
}

TCodeConvertTabsProc GetBestConvertTabsProc(int TabWidth) {
  if (TabWidth <= 1) return &ConvertTabsWidthOne;
  if (IsPowerOfTwo(TabWidth)) return &ConvertTabsPowerOfTwo;
  return &ConvertTabsAnyWidth;
}

int ExpandedTextLength(std::u16string_view Line, int TabWidth) {
  if (TabWidth < 1) TabWidth = 1;
  int length = 0;
  for (char16_t c : untilZero(Line)) length = c == u'\t' ? nextStopAnyWidth(length, TabWidth) : length + 1;
  return length;
}

int CharIndexToColumn(int Index, int TabWidth, std::u16string_view Line) {
  if (Index < 2) return 1;
  int before = 0;
  if (TabWidth <= 1 || !GetHasTabs(Line, before)) return Index;
  if (before + 1 >= Index) return Index;
  const std::u16string_view text = untilZero(Line);
  int column = before;
  std::size_t i = static_cast<std::size_t>(before);
  for (int steps = Index - before - 1; steps > 0; --steps, ++i) {
    if (i >= text.size()) return column + steps + 1;
    column = text[i] == u'\t' ? nextStopAnyWidth(column, TabWidth) : column + 1;
  }
  return column + 1;
}

int ScanForward(std::u16string_view Line, int Start, const TCodeCharTest& IsDelimiter) {
  const int length = static_cast<int>(Line.size());
  if (Start < 1 || Start > length) return 0;
  for (int i = Start; i <= length; ++i)
    if (IsDelimiter(Line[static_cast<std::size_t>(i - 1)])) return i;
  return 0;
}

int ScanBackward(std::u16string_view Line, int Start, const TCodeCharTest& IsDelimiter) {
  const int length = static_cast<int>(Line.size());
  if (Start < 1 || Start > length) return 0;
  for (int i = Start; i >= 1; --i)
    if (IsDelimiter(Line[static_cast<std::size_t>(i - 1)])) return i;
  return 0;
}

bool IsDefaultWordBreakChar(char16_t Ch) {
  return Ch <= 47 || (Ch >= 58 && Ch <= 64) || (Ch >= 91 && Ch <= 94) || Ch == 96 || (Ch >= 123 && Ch <= 126) ||
         Ch == 167 || Ch == 176 || Ch == 180;
}

const char16_t* FindLineEnd(const char16_t* P) {
  if (P == nullptr) return nullptr;
  while (*P != u'\0' && *P != u'\r' && *P != u'\n') ++P;
  return P;
}

std::vector<TGradientBand> GradientBands(TGradientRgb StartColor, TGradientRgb EndColor, bool Horizontal,
                                         const TGradientRect& Rect, int Steps) {
  Steps = MinMax(Steps, 2, 256);
  const int extent = Horizontal ? Rect.Right - Rect.Left : Rect.Bottom - Rect.Top;
  const auto channel = [Steps](std::uint8_t from, std::uint8_t to, int i) {
    return static_cast<std::uint8_t>(from + mulDiv(i, to - from, Steps - 1));
  };
  std::vector<TGradientBand> bands;
  bands.reserve(static_cast<std::size_t>(Steps));
  for (int i = 0; i < Steps; ++i) {
    TGradientBand band;
    band.Rect = Rect;
    const int from = mulDiv(i, extent, Steps), to = mulDiv(i + 1, extent, Steps);
    if (Horizontal) {
      band.Rect.Left = Rect.Left + from;
      band.Rect.Right = Rect.Left + to;
    } else {
      band.Rect.Top = Rect.Top + from;
      band.Rect.Bottom = Rect.Top + to;
    }
    band.Color = {channel(StartColor.R, EndColor.R, i), channel(StartColor.G, EndColor.G, i),
                  channel(StartColor.B, EndColor.B, i)};
    bands.push_back(band);
  }
  return bands;
}

int CompareTextAscii(std::string_view A, std::string_view B) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  const std::size_t n = A.size() < B.size() ? A.size() : B.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char a = static_cast<unsigned char>(lower(A[i]));
    const unsigned char b = static_cast<unsigned char>(lower(B[i]));
    if (a != b)
      return a < b ? -1 : 1;
  }
  return A.size() < B.size() ? -1 : A.size() > B.size() ? 1 : 0;
}

}  // namespace codeedit
