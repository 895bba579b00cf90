#include "editor/CodeEditKbdHandler.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace codeedit;

TEST(CodeEditKbdHandler, KeyHandlersRunNewestFirstAndStopAtKeyZero) {
  TCodeEditKbdHandler chains;
  std::vector<std::string> calls;
  chains.AddKeyDownHandler([&](void*, std::uint16_t&, TShiftState) { calls.push_back("first"); });
  const int second = chains.AddKeyDownHandler([&](void*, std::uint16_t& key, TShiftState) {
    calls.push_back("second");
    if (key == 'X')
      key = 0;
  });
  chains.AddKeyDownHandler([&](void*, std::uint16_t&, TShiftState) { calls.push_back("third"); });
  std::uint16_t key = 'A';
  chains.RunKeyDownHandlers(nullptr, key, 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"third", "second", "first"}));
  calls.clear();
  key = 'X';
  chains.RunKeyDownHandlers(nullptr, key, 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"third", "second"}));
  EXPECT_EQ(key, 0);
  chains.RemoveHandler(second);
  calls.clear();
  key = 'X';
  chains.RunKeyDownHandlers(nullptr, key, 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"third", "first"}));
}

TEST(CodeEditKbdHandler, MouseHandlersAllRunAndNoChainReentersItself) {
  TCodeEditKbdHandler chains;
  int runs = 0;
  chains.AddMouseDownHandler([&](void*, TMouseButton, TShiftState, int, int) {
    ++runs;
    chains.RunMouseDownHandlers(nullptr, mbLeft, 0, 0, 0);  // ignored while running
  });
  chains.AddMouseDownHandler([&](void*, TMouseButton, TShiftState, int, int) { ++runs; });
  chains.RunMouseDownHandlers(nullptr, mbLeft, 0, 1, 2);
  EXPECT_EQ(runs, 2);

  // A handler that throws leaves the chain usable.
  bool fail = true;
  int presses = 0;
  chains.AddKeyPressHandler([&](void*, char16_t&) {
    ++presses;
    if (fail)
      throw std::runtime_error("plug-in failed");
  });
  char16_t ch = u'a';
  EXPECT_THROW(chains.RunKeyPressHandlers(nullptr, ch), std::runtime_error);
  fail = false;
  int cursor = 0;
  chains.AddMouseCursorHandler([](void*, const TBufferCoord&, int& c) { c = 7; });
  chains.RunKeyPressHandlers(nullptr, ch);
  chains.RunMouseCursorHandlers(nullptr, {1, 1}, cursor);
  EXPECT_EQ(presses, 2);
  EXPECT_EQ(cursor, 7);
}
