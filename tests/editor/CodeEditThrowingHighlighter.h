#pragma once

// An INI highlighter whose scanner throws once armed: the editor must
// survive it, in painting, typing and every editing command.

#include <stdexcept>

#include "editor/CodeHighlighterIni.h"

class ThrowingHighlighter : public codeedit::TCodeIniHighlighter {
public:
  void ScanNextToken() override {
    if (armed)
      throw std::runtime_error("scanner failed");
    codeedit::TCodeIniHighlighter::ScanNextToken();
  }
  // Rescanned with every changed line, so a failure shows there too.
  bool HasLineRanges() const override { return true; }
  bool armed = false;
};
