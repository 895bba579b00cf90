#pragma once

// A bare editor model on a screen of one cell per character, with helpers
// to set and read its lines as a list.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/CodeEditCore.h"

class CellView : public codeedit::CodeEditView {
public:
  bool HasWindow() const override { return false; }
  int CharCells(char16_t) override { return 1; }
  void InvalidateAll() override {}
  void InvalidateTextLines(int, int) override {}
  void InvalidateGutterLines(int, int) override {}
};

using TextLines = std::vector<std::u16string>;

inline TextLines LinesOf(const codeedit::TCodeEditCore& Core) {
  TextLines Result;
  for (int i = 1; i <= Core.LineCount(); ++i)
    Result.emplace_back(Core.LineText(i));
  return Result;
}

inline void SetLines(codeedit::TCodeEditCore& Core, const TextLines& Lines) {
  Core.Lines().Clear();
  for (const std::u16string& Line : Lines)
    Core.Lines().Add(Line);
}

inline std::string Narrow(const TextLines& Lines) {
  std::string Out;
  for (const std::u16string& Line : Lines) {
    Out += '"';
    for (char16_t C : Line)
      Out += C == u'\t' ? std::string("\\t") : C < 128 ? std::string(1, static_cast<char>(C)) : std::string("?");
    Out += "\" ";
  }
  return Out;
}
