#pragma once

// The editor model behind a fixed window: 8 x 16 pixel cells, no gutter, 40
// columns and 20 rows.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "editor/CodeEditCore.h"
#include "tests/editor/CodeEditFakeView.h"

struct CodeEditWindowFixture : ::testing::Test {
  FakeView view;
  codeedit::TCodeEditCore core{&view};

  CodeEditWindowFixture() {
    core.FCharWidth = 8;
    core.FLineHeight = 16;
    core.ApplyGutterWidth(0);
    core.SetClientSize(2 + 40 * 8, 20 * 16);
  }
  void setText(std::u16string_view text) { core.Lines().SetAllText(text); }
  void withOption(codeedit::TCodeEditorOption option, bool on) {
    core.SetOptions(on ? core.Options() | codeedit::OptionBit(option)
                       : core.Options() & ~codeedit::OptionBit(option));
  }
};
