#pragma once

// A drawer that keeps what the editor's painting asks for: text parts with
// their cells and colours, fills, lines, gutter texts and pictures. Gutter
// text is measured as CharWidth per character and Height high.

#include <string>
#include <utility>
#include <vector>

#include "editor/CodeEditCore.h"
#include "editor/CodeEditDrawer.h"

struct RecordedText {
  std::u16string text;  // the characters over the part's cells, fillers dropped
  int first = 0;
  int last = 0;
  codeedit::TColor fg = 0;
  codeedit::TColor bg = 0;
  codeedit::TFontStyles style = 0;
  bool selected = false;
  codeedit::TCodeRect rect;
  int x = 0;
};

struct RecordedFill {
  codeedit::TCodeRect rect;
  codeedit::TColor color = 0;
};

struct RecordedLine {
  int x = 0, top = 0, bottom = 0;
  codeedit::TColor color = 0;
};

struct RecordedGutterText {
  int x = 0, y = 0;
  std::u16string text;
  bool opaque = false;
};

struct RecordedImage {
  bool internal = false;
  int index = 0;
  int x = 0, y = 0;
};

class RecordingDrawer : public codeedit::CodeEditDrawer {
public:
  explicit RecordingDrawer(int charWidth = 8, int height = 14) : charWidth(charWidth), height(height) {}

  void FillRect(const codeedit::TCodeRect& rect, codeedit::TColor color) override { fills.push_back({rect, color}); }
  void GradientFill(const codeedit::TCodeRect& rect, codeedit::TColor, codeedit::TColor, int) override {
    ++gradients;
    fills.push_back({rect, codeedit::clNone});
  }
  void TextPart(const codeedit::TCodeTextPart& part) override {
    RecordedText t;
    // The characters of the cells the part covers: X may lie left of the
    // first cell when a wide glyph began earlier.
    const int skip = part.FirstColumn - 1 - (part.X - textOffset) / charWidth;
    const int cells = part.LastColumn - part.FirstColumn + 1;
    for (int i = 0; i < static_cast<int>(part.Text.size()); ++i)
      if (i >= skip && i < skip + cells && part.Text[static_cast<std::size_t>(i)] != codeedit::CODE_GLYPH_FILLER)
        t.text.push_back(part.Text[static_cast<std::size_t>(i)]);
    t.first = part.FirstColumn;
    t.last = part.LastColumn;
    t.fg = part.Foreground;
    t.bg = part.Background;
    t.style = part.Style;
    t.selected = part.Selected;
    t.rect = part.Rect;
    t.x = part.X;
    texts.push_back(t);
  }
  void VerticalLine(int x, int top, int bottom, codeedit::TColor color) override {
    lines.push_back({x, top, bottom, color});
  }
  void SetGutterFont(const codeedit::TCodeFontDesc*) override {}
  int GutterTextWidth(std::u16string_view text) override { return static_cast<int>(text.size()) * charWidth; }
  int GutterTextHeight() override { return height; }
  void GutterText(int x, int y, std::u16string_view text, codeedit::TColor, const codeedit::TCodeRect& opaque,
                  codeedit::TColor) override {
    gutterTexts.push_back({x, y, std::u16string(text), !opaque.IsEmpty()});
  }
  void InternalImage(int index, int x, int y, int) override { images.push_back({true, index, x, y}); }
  int ImageCount(const TPngIconList*) override { return imageCount; }
  void Image(const TPngIconList*, int index, int x, int y) override { images.push_back({false, index, x, y}); }
  void Glyph(const codeedit::TCodeGlyph&, int x, int y, int) override { glyphs.push_back({x, y}); }

  void clear() {
    texts.clear();
    fills.clear();
    lines.clear();
    gutterTexts.clear();
    images.clear();
    glyphs.clear();
    gradients = 0;
  }

  int charWidth;
  int height;
  // FTextOffset of the painted model, to turn X back into cells.
  int textOffset = 2;
  int imageCount = 0;
  int gradients = 0;
  std::vector<RecordedText> texts;
  std::vector<RecordedFill> fills;
  std::vector<RecordedLine> lines;
  std::vector<RecordedGutterText> gutterTexts;
  std::vector<RecordedImage> images;
  // Glyphs drawn, by their top left corner.
  std::vector<std::pair<int, int>> glyphs;
};
