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
  bool armed = false;
};
