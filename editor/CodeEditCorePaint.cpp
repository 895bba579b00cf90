// Painting: the clip rectangle becomes rows and columns; the gutter strip
// gets its background, line numbers, border and marks; each text row is
// painted in the highlighter's runs, split exactly at the selection's
// cells. Everything goes through a CodeEditDrawer, so a test can record
// what would be drawn.

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "editor/CodeEditCore.h"
#include "editor/CodeEditMiscProcs.h"

namespace codeedit {

namespace {

constexpr char16_t TabMark = u'\u2192';
constexpr char16_t SpaceMark = u'\u2219';
constexpr char16_t LineEndMark = u'\u00B6';

bool AllBlanks(std::u16string_view Text) {
  return std::all_of(Text.begin(), Text.end(), [](char16_t C) { return C == u' '; });
}

// The painting of one PaintTextLines call: rows of a line range, with the
// token run being collected and the selection of the current row.
class TextLinesPainter {
public:
  TextLinesPainter(TCodeEditCore& Core, CodeEditDrawer& Drawer, const TCodeRect& Clip, int FirstRow, int LastRow,
                   int FirstColumn, int LastColumn)
      : C(Core), D(Drawer), Clip(Clip), FirstRow(FirstRow), LastRow(LastRow), FirstCol(FirstColumn),
        LastCol(LastColumn) {}

  void Run();

private:
  int ColumnX(long long Column) const {
    const long long X = (Column - 1) * C.FCharWidth + C.FTextOffset;
    return static_cast<int>(std::clamp<long long>(X, INT_MIN / 2, INT_MAX / 2));
  }
  void ComputeSelection();
  void PaintLine(int Line);
  void PaintRow(int Row);
  void AddToken(std::u16string_view Token, int Position, TColor Fg, TColor Bg, TFontStyles Style);
  void PaintRun(bool Fill);
  void DrawPart(std::u16string_view Text, int ColumnsBefore, int First, int Last, bool Selected);
  void FillPart(int Right, bool Selected);

  TCodeEditCore& C;
  CodeEditDrawer& D;
  TCodeRect Clip;
  const int FirstRow, LastRow, FirstCol, LastCol;

  bool DrawEdge = false;
  int EdgeX = 0;
  bool AnySelection = false;
  TDisplayCoord SelStart, SelEnd;
  TCodeSelectionMode Mode = smNormal;

  // The current line.
  std::u16string Display;
  int LineLastRow = 0;
  bool CurrentLine = false;
  bool Special = false;
  TColor FG = clNone, BG = clNone, SelFG = clNone, SelBG = clNone;
  // The current row. With word wrap a row shows a slice of the line's
  // display form: RowStart cells of the line lie on the rows above it.
  int RowStart = 0;
  int LineSelStart = 0, LineSelEnd = 0;
  bool ComplexLine = false;
  bool RowSelected = false;
  TCodeRect RowRect, TokenRect;
  // The colours the next part is drawn in.
  TColor PartFG = clNone, PartBG = clNone;
  TFontStyles PartStyle = 0;
  // The run being collected.
  std::u16string Accu;
  int AccuPos = 0;
  TColor AccuFG = clNone, AccuBG = clNone;
  TFontStyles AccuStyle = 0;
};

void TextLinesPainter::Run() {
  EdgeX = C.FTextOffset + C.RightEdge() * C.FCharWidth;
  DrawEdge = C.RightEdge() > 0 && EdgeX >= Clip.Left && EdgeX <= Clip.Right;
  const int TextLeft = C.FGutterWidth + 2;
  if (Clip.Left < TextLeft) {
    D.FillRect({std::max(Clip.Left, C.FGutterWidth), Clip.Top, TextLeft, Clip.Bottom}, C.EditorBackground(false));
    Clip.Left = TextLeft;
  }
  const int FirstLine = C.RowToLine(FirstRow);
  const int LastLine = C.RowToLine(LastRow);
  if (FirstLine <= LastLine) {
    ComputeSelection();
    PartStyle = C.FontStyle();
    RowRect = {TextLeft, 0, Clip.Right, (FirstRow - C.FTopLine) * C.FLineHeight};
    for (int Line = FirstLine; Line <= LastLine; ++Line)
      PaintLine(Line);
  }
  // Below the last row: the editor's background, and the edge through it.
  const TCodeRect Below{Clip.Left, (LastRow - C.FTopLine + 1) * C.FLineHeight, Clip.Right, Clip.Bottom};
  if (!Below.IsEmpty()) {
    D.FillRect(Below, C.EditorBackground(false));
    if (DrawEdge)
      D.VerticalLine(EdgeX, Below.Top, Below.Bottom + 1, C.RightEdgeColor());
  }
}

void TextLinesPainter::ComputeSelection() {
  AnySelection = false;
  Mode = C.ActiveSelectionMode();
  if (C.HideSelection() && !C.Focused())
    return;
  const TBufferCoord B = C.BlockBeginSorted();
  const TBufferCoord E = C.BlockEndSorted();
  if (B == E)
    return;
  if (E.LinePos < C.RowToLine(FirstRow) || B.LinePos > C.RowToLine(LastRow))
    return;
  AnySelection = true;
  SelStart = C.BufferToDisplayPos(B);
  SelEnd = C.BufferToDisplayPos(E);
  if (Mode == smColumn && SelEnd.Column < SelStart.Column)
    std::swap(SelStart.Column, SelEnd.Column);
}

void TextLinesPainter::PaintLine(int Line) {
  Display = C.InsertGlyphFillers(C.Lines().GetExpandedString(Line - 1));
  CurrentLine = C.CaretXY().LinePos == Line;
  FG = C.FontColor();
  BG = C.EditorBackground(CurrentLine);
  Special = C.DoSpecialLineColors(Line, FG, BG);
  if (Special) {
    // A special line shows its selection in its own colours swapped.
    SelFG = BG;
    SelBG = FG;
  } else {
    SelFG = C.SelectedColor().Foreground();
    SelBG = C.SelectedColor().Background();
  }
  LineLastRow = C.LineToRow(Line + 1) - 1;
  const int First = std::max(C.LineToRow(Line), FirstRow);
  const int Last = std::min(LineLastRow, LastRow);
  for (int Row = First; Row <= Last; ++Row)
    PaintRow(Row);
  CurrentLine = false;
}

void TextLinesPainter::PaintRow(int Row) {
  // The cells of the line's display form the row shows, in the line's own
  // columns: FirstCell up to (not including) LastCell. Without word wrap
  // they are the painted columns.
  const bool Wrapped = C.WordWrap();
  RowStart = 0;
  int FirstCell = FirstCol;
  int LastCell = LastCol;
  if (Wrapped) {
    const ICodeEditBufferPlugin& Wrap = *C.WordWrapPlugin();
    RowStart = Wrap.DisplayToBufferPos({1, Row}).CharPos - 1;
    FirstCell = FirstCol + RowStart;
    LastCell = LastCol + RowStart;
    // An inner row ends where the next row begins.
    if (Row < LineLastRow && Row <= Wrap.RowCount())
      LastCell = std::min(LastCell, RowStart + Wrap.RowLength(Row) + 1);
  }
  const int Shift = FirstCol - FirstCell;  // from the line's columns to the row's
  const bool LastRowOfLine = Row >= LineLastRow;
  LineSelStart = 0;
  LineSelEnd = 0;
  ComplexLine = false;
  if (AnySelection && Row >= SelStart.Row && Row <= SelEnd.Row) {
    LineSelStart = FirstCol;
    LineSelEnd = LastCol + 1;
    if (Mode == smColumn || (Mode == smNormal && Row == SelStart.Row)) {
      if (SelStart.Column > LastCol) {
        LineSelStart = 0;
        LineSelEnd = 0;
      } else if (SelStart.Column > FirstCol) {
        LineSelStart = SelStart.Column;
        ComplexLine = true;
      }
    }
    if (Mode == smColumn || (Mode == smNormal && Row == SelEnd.Row)) {
      if (SelEnd.Column < FirstCol) {
        LineSelStart = 0;
        LineSelEnd = 0;
      } else if (SelEnd.Column < LastCol) {
        LineSelEnd = SelEnd.Column;
        ComplexLine = true;
      }
    }
  }
  RowRect.Top = RowRect.Bottom;
  RowRect.Bottom += C.FLineHeight;
  RowSelected = !ComplexLine && LineSelStart > 0;
  TokenRect = RowRect;

  TCodeCustomHighlighter* H = C.Highlighter();
  const int Line = C.RowToLine(Row);
  if (H == nullptr || !H->Enabled()) {
    // The line up to the row's end; the row's slice of it starts at Shift.
    std::u16string Text =
        Wrapped ? Display.substr(0, static_cast<std::size_t>(std::max(0, LastCell - 1))) : Display;
    if (C.HasOption(eoShowSpecialChars) && LastRowOfLine && static_cast<int>(Text.size()) < LastCell)
      Text.push_back(LineEndMark);
    if (ComplexLine) {
      DrawPart(Text, Shift, FirstCol, LineSelStart, false);
      TokenRect.Left = std::max(ColumnX(LineSelEnd), RowRect.Left);
      DrawPart(Text, Shift, LineSelEnd, LastCol, false);
      TokenRect.Left = std::max(ColumnX(LineSelStart), RowRect.Left);
      DrawPart(Text, Shift, LineSelStart, LineSelEnd, true);
    } else {
      DrawPart(Text, Shift, FirstCol, LastCol, RowSelected);
    }
  } else {
    if (Line <= 1)
      H->ResetRange();
    else
      H->SetRange(C.Lines().GetRange(Line - 2));
    const std::u16string Expanded = C.Lines().GetExpandedString(Line - 1);
    H->SetLineWithColumns(Expanded, Display, Line - 1);
    Accu.clear();
    TCodeHighlighterAttributes* LastAttr = nullptr;
    int End = 0;
    bool ReachedEnd = true;
    while (!H->AtLineEnd()) {
      const int Pos = H->GetColumnTokenPos();
      std::u16string Token = H->GetColumnToken();
      const int Len = static_cast<int>(Token.size());
      if (Pos + Len >= FirstCell) {
        // A wrapped row's LastCell begins the next row: its tokens stop a
        // cell earlier.
        const int Limit = Wrapped ? LastCell - 1 : LastCell;
        if (Pos > Limit || (Wrapped && Pos == Limit)) {
          ReachedEnd = false;
          break;
        }
        if (Pos + Len > Limit)
          Token.resize(static_cast<std::size_t>(Limit - Pos));
        TCodeHighlighterAttributes* Attr = H->CurrentTokenAttribute();
        if (Attr != nullptr)
          AddToken(Token, Pos + Shift, Attr->Foreground(), Attr->Background(), Attr->Style());
        else
          AddToken(Token, Pos + Shift, FG, BG, C.FontStyle());
        LastAttr = Attr;
      }
      End = Pos + Len;
      H->ScanNextToken();
    }
    if (ReachedEnd && LastRowOfLine && C.HasOption(eoShowSpecialChars)) {
      TCodeHighlighterAttributes* Comment = H->DefaultAttribute(CODE_ATTR_COMMENT);
      TCodeHighlighterAttributes* Colours =
          LastAttr != nullptr && LastAttr == Comment ? Comment : H->DefaultAttribute(CODE_ATTR_WHITESPACE);
      // Without a white-space attribute the mark takes the line's colours.
      if (Colours != nullptr)
        AddToken(std::u16string(1, LineEndMark), End + Shift, Colours->Foreground(), Colours->Background(), 0);
      else
        AddToken(std::u16string(1, LineEndMark), End + Shift, FG, BG, 0);
    }
    PaintRun(true);
  }
  if (DrawEdge)
    D.VerticalLine(EdgeX, RowRect.Top, RowRect.Bottom + 1, C.RightEdgeColor());
}

void TextLinesPainter::AddToken(std::u16string_view Token, int Position, TColor Fg, TColor Bg, TFontStyles Style) {
  if (Bg == clNone || (C.ActiveLineColor() != clNone && CurrentLine))
    Bg = C.EditorBackground(CurrentLine);
  if (Fg == clNone)
    Fg = C.FontColor();
  bool Join = false;
  if (!Accu.empty()) {
    const bool Blanks = AllBlanks(Token);
    const bool StyleFits =
        Style == AccuStyle || ((Style & fsUnderline) == 0 && (AccuStyle & fsUnderline) == 0 && Blanks);
    const bool ColourFits = (Special && !C.HasOption(eoSpecialLineDefaultFg)) || RowSelected ||
                            (Bg == AccuBG && (Fg == AccuFG || Blanks));
    Join = StyleFits && ColourFits;
    if (!Join)
      PaintRun(false);
  }
  if (Join) {
    Accu.append(Token);
  } else {
    Accu.assign(Token);
    AccuPos = Position;
    AccuFG = Fg;
    AccuBG = Bg;
    AccuStyle = Style;
  }
}

void TextLinesPainter::PaintRun(bool Fill) {
  const int C1 = std::max(FirstCol, AccuPos + 1);
  const int C2 = std::min(LastCol, AccuPos + static_cast<int>(Accu.size()) + 1);
  bool Sel;
  bool Complex = false;
  bool U1 = false, U2 = false;
  if (ComplexLine) {
    U1 = C1 < LineSelStart;
    Sel = C1 < LineSelEnd && C2 >= LineSelStart;
    U2 = C2 >= LineSelEnd;
    Complex = Sel && (U1 || U2);
  } else {
    Sel = RowSelected;
  }
  if (C1 < C2 && !Accu.empty()) {
    if (!Special) {
      BG = AccuBG;
      FG = AccuFG;
    } else if (C.HasOption(eoSpecialLineDefaultFg)) {
      FG = AccuFG;
    }
    PartStyle = AccuStyle;
    if (Complex) {
      if (U1) {
        DrawPart(Accu, AccuPos, C1, LineSelStart, false);
        TokenRect.Left = std::max(TokenRect.Left, ColumnX(LineSelStart));
      }
      DrawPart(Accu, AccuPos, std::max(C1, LineSelStart), std::min(C2, LineSelEnd), true);
      if (U2) {
        TokenRect.Left = std::max(TokenRect.Left, ColumnX(LineSelEnd));
        DrawPart(Accu, AccuPos, LineSelEnd, C2, false);
      }
    } else {
      DrawPart(Accu, AccuPos, C1, C2, Sel);
    }
  }
  if (Fill && TokenRect.Left < RowRect.Right) {
    if (!Special)
      BG = C.EditorBackground(CurrentLine);
    if (!Accu.empty() && AccuStyle != 0)
      TokenRect.Left += std::max(0, D.Overhang(Accu.back(), AccuStyle));
    if (ComplexLine) {
      FillPart(ColumnX(LineSelStart), false);
      FillPart(ColumnX(LineSelEnd), true);
      FillPart(RowRect.Right, false);
    } else {
      FillPart(RowRect.Right, RowSelected);
    }
  }
}

void TextLinesPainter::FillPart(int Right, bool Selected) {
  Right = std::min(Right, RowRect.Right);
  if (Right <= TokenRect.Left)
    return;
  D.FillRect({TokenRect.Left, RowRect.Top, Right, RowRect.Bottom}, Selected ? SelBG : BG);
  TokenRect.Left = Right;
}

void TextLinesPainter::DrawPart(std::u16string_view Text, int ColumnsBefore, int First, int Last, bool Selected) {
  // Last is the column after the part: the part's rectangle ends at its X.
  if (Last <= First)
    return;
  TCodeRect Rect{std::max(TokenRect.Left, ColumnX(First)), RowRect.Top, std::min(ColumnX(Last), RowRect.Right),
                 RowRect.Bottom};
  if (Rect.IsEmpty())
    return;
  TCodeTextPart Part;
  Part.Y = RowRect.Top;
  Part.Rect = Rect;
  Part.FirstColumn = First;
  Part.LastColumn = Last - 1;
  Part.Foreground = Selected ? SelFG : FG;
  Part.Background = Selected ? SelBG : BG;
  Part.Style = PartStyle;
  Part.Selected = Selected;
  Part.X = ColumnX(First);
  const bool ShowSpecial = C.HasOption(eoShowSpecialChars);
  const int Len = static_cast<int>(Text.size());
  // 0-based index of the part's first cell in Text.
  int Start = First - ColumnsBefore - 1;
  bool HasTabs = false;
  if (Start < Len) {
    Start = std::max(Start, 0);
    // A wide glyph whose fillers begin before the part is drawn whole, from
    // its first filler on; the rectangle cuts what lies left of the part.
    int From = Start;
    while (From > 0 && Text[static_cast<std::size_t>(From - 1)] == CODE_GLYPH_FILLER)
      --From;
    Part.X = ColumnX(static_cast<long long>(ColumnsBefore) + From + 1);
    const int Count = std::min(Last - First + 1, Len - Start);
    Part.Text.assign(Text.substr(static_cast<std::size_t>(From), static_cast<std::size_t>(Start - From + Count)));
    for (char16_t& Ch : Part.Text) {
      if (Ch == u'\t') {
        Ch = u' ';
        HasTabs = true;
      } else if (Ch == u' ' && ShowSpecial) {
        Ch = SpaceMark;
      }
    }
  }
  D.TextPart(Part);
  if (ShowSpecial && HasTabs) {
    // One arrow in the middle of each TAB's run of cells.
    for (int I = Start; I < Len && I <= Start + (Last - First); ++I) {
      if (Text[static_cast<std::size_t>(I)] != u'\t')
        continue;
      const int P = I + 1;  // 1-based in Text
      const int Tab = C.TabWidth();
      // Tab stops count from the line's first column, not the row's.
      const int StopBase = ColumnsBefore + RowStart;
      int N = 1;
      while ((StopBase + P + N - 1) % Tab != 0)
        ++N;
      int MarkX = ColumnX(ColumnsBefore + P + N / 2 - 1) + ((N % 2 == 0) ? C.FCharWidth / 2 : C.FCharWidth);
      TCodeTextPart Mark = Part;
      Mark.X = MarkX;
      Mark.Text.assign(1, TabMark);
      Mark.Rect = {std::max(MarkX, Rect.Left), Rect.Top, std::min(MarkX + C.FCharWidth, Rect.Right), Rect.Bottom};
      if (!Mark.Rect.IsEmpty()) {
        Mark.FirstColumn = Mark.LastColumn = (MarkX - C.FTextOffset) / std::max(1, C.FCharWidth) + 1;
        D.TextPart(Mark);
      }
      // Skip the rest of this TAB's run.
      while (I + 1 < Len && Text[static_cast<std::size_t>(I + 1)] == u'\t' && (StopBase + I + 1) % Tab != 0)
        ++I;
    }
  }
  TokenRect.Left = Rect.Right;
}

}  // namespace

// --- colours ------------------------------------------------------------------------------

TColor TCodeEditCore::EditorBackground(bool CaretLine) const {
  if (FActiveLineColor != clNone && CaretLine)
    return FActiveLineColor;
  if (FHighlighter) {
    TCodeHighlighterAttributes* White = FHighlighter->DefaultAttribute(CODE_ATTR_WHITESPACE);
    if (White != nullptr && White->Background() != clNone)
      return White->Background();
  }
  return FColor;
}

void TCodeEditCore::SetColor(TColor Value) {
  if (FColor == Value)
    return;
  FColor = Value;
  InvalidateAll();
}

void TCodeEditCore::SetRightEdgeColor(TColor Value) {
  if (FRightEdgeColor == Value)
    return;
  FRightEdgeColor = Value;
  if (FRightEdge > 0)
    InvalidateAll();
}

void TCodeEditCore::SetFontColor(TColor Value) {
  if (FFontColor == Value)
    return;
  FFontColor = Value;
  InvalidateAll();
}

bool TCodeEditCore::DoSpecialLineColors(int Line, TColor& Foreground, TColor& Background) {
  bool Special = false;
  if (OnSpecialLineColors)
    OnSpecialLineColors(*this, Line, Special, Foreground, Background);
  return Special;
}

// --- geometry ------------------------------------------------------------------------------

TCodeRect TCodeEditCore::LinesRect(int FirstLine, int LastLine, int Left, int Right) const {
  if (FirstLine > LastLine)
    std::swap(FirstLine, LastLine);
  long long FirstRow = FirstLine;
  // From the last line on, everything below goes with it.
  long long LastRow = LastLine < LineCount() ? LastLine : INT_MAX;
  if (FWordWrapPlugin) {
    // A wrapped line takes all its rows.
    FirstRow = FirstLine <= LineCount() ? LineToRow(std::max(FirstLine, 1))
                                        : static_cast<long long>(DisplayLineCount()) + FirstLine - LineCount();
    if (LastLine < LineCount())
      LastRow = LineToRow(std::max(LastLine, 0) + 1) - 1;
  }
  const long long Top = std::max<long long>(FirstRow, FTopLine);
  const long long Bottom = std::min<long long>(LastRow, static_cast<long long>(FTopLine) + FLinesInWindow);
  if (Top > Bottom)
    return {};
  return {Left, static_cast<int>((Top - FTopLine) * FLineHeight), Right,
          static_cast<int>((Bottom - FTopLine + 1) * FLineHeight)};
}

TCodeRect TCodeEditCore::TextLinesRect(int FirstLine, int LastLine) const {
  return LinesRect(FirstLine, LastLine, FGutterWidth, FClientWidth);
}

TCodeRect TCodeEditCore::GutterLinesRect(int FirstLine, int LastLine) const {
  return LinesRect(FirstLine, LastLine, 0, FGutterWidth);
}

TCodeRect TCodeEditCore::CaretRect() {
  TDisplayCoord P = CaretDisplayPos();
  // A wrapped row is never wider than the window: the caret stays at its end.
  if (FWordWrapPlugin)
    P.Column = std::min(P.Column, FCharsInWindow + 1);
  const long long X = (static_cast<long long>(P.Column) - 1) * FCharWidth + FTextOffset + FCaretOffsetX;
  const long long Y = (static_cast<long long>(P.Row) - FTopLine) * FLineHeight + FCaretOffsetY;
  // Outside the text area the caret hides.
  if (X < FGutterWidth || X >= FClientWidth || Y < 0 || Y >= FClientHeight)
    return {};
  return {static_cast<int>(X), static_cast<int>(Y), static_cast<int>(X) + FCaretShape.Width,
          static_cast<int>(Y) + FCaretShape.Height};
}

// --- gutter ---------------------------------------------------------------------------------

void TCodeEditCore::GutterChanged() {
  if (FGutter.ShowLineNumbers() && FGutter.AutoSize())
    FGutter.AutoSizeDigitCount(LineCount());
  int CharWidth = FCharWidth;
  if (FGutter.UseFontStyle() && FView != nullptr) {
    const int Measured = FView->GutterCharWidth(FGutter.Font());
    if (Measured > 0)
      CharWidth = Measured;
  }
  const int Width = FGutter.RealGutterWidth(CharWidth);
  if (Width == FGutterWidth)
    InvalidateGutterLines(1, INT_MAX);
  else
    ApplyGutterWidth(Width);
}

void TCodeEditCore::DrawMark(CodeEditDrawer& Drawer, const TCodeEditMark& Mark, int RowTop, int& XOffset) {
  TPngIconList* Images = FBookMarkOptions.BookmarkImages();
  if (Images != nullptr && !Mark.InternalImage()) {
    if (Mark.ImageNumber() >= Drawer.ImageCount(Images))
      return;
    if (Mark.IsBookmark() == FBookMarkOptions.DrawBookmarksFirst())
      XOffset = 0;
    else if (XOffset == 0)
      XOffset = FBookMarkOptions.Xoffset();
    Drawer.Image(Images, Mark.ImageNumber(), FBookMarkOptions.LeftMargin() + XOffset, RowTop);
    XOffset += FBookMarkOptions.Xoffset();
  } else {
    if (Mark.ImageNumber() < 0 || Mark.ImageNumber() > 9)
      return;
    if (XOffset == 0)
      Drawer.InternalImage(Mark.ImageNumber(), FBookMarkOptions.LeftMargin() + XOffset, RowTop, FLineHeight);
    XOffset += FBookMarkOptions.Xoffset();
  }
}

void TCodeEditCore::PaintGutter(CodeEditDrawer& Drawer, const TCodeRect& Clip, int FirstRow, int LastRow) {
  const int FirstLine = RowToLine(FirstRow);
  const int LastLine = RowToLine(LastRow);
  const bool Gradient = FGutter.Gradient();
  if (Gradient)
    Drawer.GradientFill({0, 0, FGutterWidth, std::max(FClientHeight, Clip.Bottom)}, FGutter.GradientStartColor(),
                        FGutter.GradientEndColor(), FGutter.GradientSteps());
  const TColor GutterColor = FGutter.Color();
  if (FGutter.ShowLineNumbers()) {
    struct FontBack {
      CodeEditDrawer& D;
      ~FontBack() { D.SetGutterFont(nullptr); }
    } Restore{Drawer};
    Drawer.SetGutterFont(FGutter.UseFontStyle() ? &FGutter.Font() : nullptr);
    TCodeRect LineRect = Clip;
    LineRect.Right = std::max(LineRect.Right, FGutterWidth - 2);
    LineRect.Bottom = Clip.Top;
    const int TextHeight = Drawer.GutterTextHeight();
    for (int Line = FirstLine; Line <= LastLine; ++Line) {
      const int Y = (LineToRow(Line) - FTopLine) * FLineHeight;
      // The rows a wrapped line continues on carry no number: their band
      // gets the gutter's colour.
      if (WordWrap() && !Gradient && LineRect.Bottom < Y)
        Drawer.FillRect({Clip.Left, LineRect.Bottom, LineRect.Right, Y}, GutterColor);
      LineRect.Top = Y;
      LineRect.Bottom = Y + FLineHeight;
      const std::string Number = FGutter.FormatLineNumber(Line);
      std::u16string Text(Number.begin(), Number.end());
      if (OnGutterGetText)
        OnGutterGetText(*this, Line, Text);
      const int Width = Drawer.GutterTextWidth(Text);
      const int X = FGutterWidth - FGutter.RightOffset() - Width - 2;
      const int TextY = Y + (FLineHeight - TextHeight) / 2;
      Drawer.GutterText(X, TextY, Text, FFontColor, Gradient ? TCodeRect{} : LineRect, GutterColor);
    }
    if (!Gradient && LineRect.Bottom < Clip.Bottom)
      Drawer.FillRect({Clip.Left, LineRect.Bottom, LineRect.Right, Clip.Bottom}, GutterColor);
  } else if (!Gradient) {
    Drawer.FillRect(Clip, GutterColor);
  }
  if (WordWrap() && FWordWrapGlyph.Visible()) {
    const int X = FGutterWidth - FGutter.RightOffset() - FWordWrapGlyph.GetWidth() - 2;
    for (int Row = std::max(FirstRow, 1); Row <= LastRow; ++Row)
      if (LineToRow(RowToLine(Row)) != Row)
        Drawer.Glyph(FWordWrapGlyph, X, (Row - FTopLine) * FLineHeight, FLineHeight);
  }
  if (FGutter.BorderStyle() != gbsNone && Clip.Right >= FGutterWidth - 2) {
    if (FGutter.BorderStyle() == gbsMiddle) {
      Drawer.VerticalLine(FGutterWidth - 2, Clip.Top, Clip.Bottom, FGutter.BorderColor());
      Drawer.VerticalLine(FGutterWidth - 1, Clip.Top, Clip.Bottom, GutterColor);
    } else {
      Drawer.VerticalLine(FGutterWidth - 1, Clip.Top, Clip.Bottom, FGutter.BorderColor());
    }
  }
  const bool HasMarks = FBookMarkOptions.GlyphsVisible() && Marks().Count() > 0 && FirstLine <= LastLine;
  std::vector<int> Offsets;
  if (HasMarks) {
    Offsets.assign(static_cast<std::size_t>(LastRow - FirstRow + 1), 0);
    // Bookmarks and other marks: the kind drawn first goes in a first pass,
    // so the other kind lines up to its right.
    const bool FirstKind = FBookMarkOptions.DrawBookmarksFirst();
    for (int Pass = 0; Pass < 2; ++Pass) {
      bool NeedSecond = false;
      for (int I = 0; I < Marks().Count(); ++I) {
        const TCodeEditMark* Mark = Marks().GetItem(I);
        if (!Mark->Shown() || Mark->Line() < FirstLine || Mark->Line() > LastLine)
          continue;
        const bool Wanted = Pass == 0 ? Mark->IsBookmark() == FirstKind : Mark->IsBookmark() != FirstKind;
        if (!Wanted) {
          NeedSecond = true;
          continue;
        }
        const int Row = LineToRow(Mark->Line());
        if (Row < FirstRow)
          continue;
        DrawMark(Drawer, *Mark, (Row - FTopLine) * FLineHeight, Offsets[static_cast<std::size_t>(Row - FirstRow)]);
      }
      if (Pass == 0 && !NeedSecond)
        break;
    }
  }
  if (OnGutterPaint) {
    for (int Line = FirstLine; Line <= LastLine; ++Line) {
      const int Row = LineToRow(Line);
      const int X = HasMarks && Row >= FirstRow ? Offsets[static_cast<std::size_t>(Row - FirstRow)] : 0;
      OnGutterPaint(*this, Drawer, Line, X, (Row - FTopLine) * FLineHeight);
    }
  }
}

// --- text area and entry ------------------------------------------------------------------------

void TCodeEditCore::PaintTextLines(CodeEditDrawer& Drawer, const TCodeRect& Clip, int FirstRow, int LastRow,
                                   int FirstColumn, int LastColumn) {
  TextLinesPainter Painter(*this, Drawer, Clip, FirstRow, LastRow, FirstColumn, LastColumn);
  Painter.Run();
}

void TCodeEditCore::Paint(CodeEditDrawer& Drawer, const TCodeRect& Clip) {
  if (Clip.IsEmpty())
    return;
  // The clip is always covered: the control fills nothing beforehand.
  if (FCharWidth <= 0 || FLineHeight <= 0) {
    Drawer.FillRect(Clip, EditorBackground(false));
    return;
  }
  const int TextLeft = FGutterWidth + 2;
  int FirstColumn = FLeftChar;
  if (Clip.Left > TextLeft)
    FirstColumn += (Clip.Left - TextLeft) / FCharWidth;
  const int LastColumn = FLeftChar + (Clip.Right - TextLeft + FCharWidth - 1) / FCharWidth;
  const int FirstRow = std::max(FTopLine, FTopLine + Clip.Top / FLineHeight);
  const int LastRow = MinMax(FTopLine + (Clip.Bottom + FLineHeight - 1) / FLineHeight, 1, DisplayLineCount());
  if (Clip.Left < FGutterWidth)
    PaintGutter(Drawer, {Clip.Left, Clip.Top, std::min(Clip.Right, FGutterWidth), Clip.Bottom}, FirstRow, LastRow);
  if (FGutterWidth < Clip.Right)
    PaintTextLines(Drawer, {std::max(FGutterWidth, Clip.Left), Clip.Top, Clip.Right, Clip.Bottom}, FirstRow, LastRow,
                   FirstColumn, LastColumn);
  DoPaintTransient(ttAfter);
}

}  // namespace codeedit
