#include "editor/CodeEditMiscClasses.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/support/ThrownText.h"

using namespace codeedit;

namespace {

// Handlers that note their name and the sender; B throws.
struct Listener {
  std::string name;
  std::string* log = nullptr;
  bool throws = false;
  void Changed(void* sender) {
    *log += name;
    if (sender != this_sender) *log += "?";
    if (throws) throw std::runtime_error("B failed");
  }
  void* this_sender = nullptr;
};

struct ChainFixture : testing::Test {
  ChainFixture() {
    for (Listener* l : {&a, &b, &c}) {
      l->log = &log;
      l->this_sender = &sender;
    }
    a.name = "A";
    b.name = "B";
    c.name = "C";
    b.throws = true;
  }
  TCodeNotifyEvent event(Listener& l) { return NotifyEvent<&Listener::Changed>(&l); }

  int sender = 0;
  TCodeNotifyEventChain chain{&sender};
  Listener a, b, c;
  std::string log;
};

}  // namespace

using TCodeNotifyEventChainTest = ChainFixture;

TEST_F(TCodeNotifyEventChainTest, MisuseRaisesWithTheChainsName) {
  EXPECT_EQ(thrownText([&] { chain.AddNotifyEvent({}); }),
            "TCodeNotifyEventChain.Entry : the parameter `AEvent' must be specified.");
  EXPECT_EQ(thrownText([&] { chain.RemoveNotifyEvent({}); }),
            "TCodeNotifyEventChain.Remove: the parameter `AEvent' must be specified.");
  chain.AddNotifyEvent(event(a));
  chain.AddNotifyEvent(event(b));
  chain.ExceptionHandler = [](TCodeMethodChain&, const std::exception&, bool&) { throw 42; };
  EXPECT_EQ(thrownText([&] { chain.Fire(); }),
            "TCodeNotifyEventChain.DoHandleException : MUST NOT occur any kind of exception in ExceptionHandler");
  EXPECT_EQ(log, "AB");
}

TEST_F(TCodeNotifyEventChainTest, AThrowingHandlerIsTreatedAsThePolicySays) {
  struct Case {
    const char* name;
    bool handler;
    bool doContinue;
    std::string ran;
    std::string thrown;
  } cases[] = {
      {"no exception handler", false, true, "AB", "B failed"},
      {"a handler that goes on", true, true, "ABC", "(nothing thrown)"},
      {"a handler that stops", true, false, "AB", "(nothing thrown)"},
  };
  chain.AddNotifyEvent(event(a));
  chain.AddNotifyEvent(event(b));
  chain.AddNotifyEvent(event(c));
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    log.clear();
    std::string seen;
    chain.ExceptionHandler = nullptr;
    if (k.handler)
      chain.ExceptionHandler = [&](TCodeMethodChain& sender, const std::exception& e, bool& doContinue) {
        EXPECT_EQ(&sender, &chain);
        seen = e.what();
        EXPECT_TRUE(doContinue);
        doContinue = k.doContinue;
      };
    EXPECT_EQ(thrownText([&] { chain.Fire(); }), k.thrown);
    EXPECT_EQ(log, k.ran);
    EXPECT_EQ(seen, k.handler ? "B failed" : "");
  }
}

TEST_F(TCodeNotifyEventChainTest, AHandlerAddedTwiceRunsTwiceAndOneRemoveTakesBoth) {
  b.throws = false;
  chain.AddNotifyEvent(event(a));
  chain.AddNotifyEvent(event(b));
  chain.AddNotifyEvent(event(a));
  chain.Fire();
  EXPECT_EQ(log, "ABA");
  chain.RemoveNotifyEvent(event(a));
  chain.RemoveNotifyEvent(event(c));  // never added: nothing changes
  log.clear();
  chain.Fire();
  EXPECT_EQ(log, "B");
  EXPECT_EQ(chain.MethodCount(), 1);

  // The same code on another object is another method.
  chain.AddNotifyEvent(event(c));
  chain.RemoveNotifyEvent(event(a));
  log.clear();
  chain.Fire();
  EXPECT_EQ(log, "BC");

  // Non-standard exceptions are not the policy's business.
  chain.AddNotifyEvent({[](void*, void*) { throw 7; }, nullptr});
  chain.ExceptionHandler = [](TCodeMethodChain&, const std::exception&, bool&) {};
  EXPECT_THROW(chain.Fire(), int);
}

// ---- Option objects

namespace {

struct GutterFixture : testing::Test {
  GutterFixture() {
    gutter.OnChange = [this](TCodeGutter& sender) {
      EXPECT_EQ(&sender, &gutter);
      ++changes;
    };
  }
  TCodeGutter gutter;
  int changes = 0;
};

}  // namespace

using TCodeGutterTest = GutterFixture;

TEST_F(TCodeGutterTest, SettersClampAndNotifyOnlyOnChange) {
  gutter.SetDigitCount(1);
  EXPECT_EQ(gutter.DigitCount(), 2);
  EXPECT_EQ(gutter.AutoSizeDigits(), 2);
  gutter.SetDigitCount(20);
  EXPECT_EQ(gutter.DigitCount(), 12);
  EXPECT_EQ(gutter.AutoSizeDigits(), 12);
  EXPECT_EQ(changes, 2);
  gutter.SetDigitCount(30);  // clamps to the value it has
  EXPECT_EQ(changes, 2);

  gutter.SetLineNumberStart(-3);
  EXPECT_EQ(gutter.LineNumberStart(), 0);
  EXPECT_TRUE(gutter.ZeroStart());
  EXPECT_EQ(gutter.DisplayedLineNumber(1), 0);
  gutter.SetLineNumberStart(5);
  EXPECT_FALSE(gutter.ZeroStart());
  EXPECT_EQ(gutter.DisplayedLineNumber(1), 5);
  EXPECT_EQ(changes, 4);

  gutter.SetLeftOffset(-4);
  gutter.SetRightOffset(-1);
  gutter.SetWidth(-9);
  EXPECT_EQ(gutter.LeftOffset(), 0);
  EXPECT_EQ(gutter.RightOffset(), 0);
  EXPECT_EQ(gutter.Width(), 0);
  gutter.SetGradientSteps(1);
  EXPECT_EQ(gutter.GradientSteps(), 2);
  EXPECT_EQ(changes, 8);

  changes = 0;
  gutter.SetColor(gutter.Color());
  gutter.SetFont(gutter.Font());
  gutter.SetVisible(true);
  EXPECT_EQ(changes, 0);
  gutter.SetBorderStyle(gutter.BorderStyle());  // always tells
  EXPECT_EQ(changes, 1);
  TCodeFontDesc font = gutter.Font();
  font.Style = fsBold;
  gutter.SetFont(font);
  EXPECT_EQ(changes, 2);
}

TEST_F(TCodeGutterTest, FormatLineNumber) {
  struct Case {
    int line;
    bool leadingZeros;
    int start;
    const char* text;
  } cases[] = {
      {7, false, 1, "   7"},  {7, true, 1, "0007"},    {12345, false, 1, "12345"},
      {12345, true, 1, "12345"}, {1, false, 0, "   0"}, {1, true, 0, "0000"},
      {3, false, 100, " 102"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    gutter.SetLeadingZeros(c.leadingZeros);
    gutter.SetLineNumberStart(c.start);
    EXPECT_EQ(gutter.FormatLineNumber(c.line), c.text);
  }
}

TEST_F(TCodeGutterTest, AutoSizeDigitCount) {
  gutter.SetAutoSize(true);
  gutter.SetShowLineNumbers(true);
  changes = 0;
  gutter.AutoSizeDigitCount(999);
  EXPECT_EQ(gutter.AutoSizeDigits(), 4);
  gutter.AutoSizeDigitCount(12345);
  EXPECT_EQ(gutter.AutoSizeDigits(), 5);
  EXPECT_EQ(changes, 1);
  gutter.AutoSizeDigitCount(12345);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(gutter.FormatLineNumber(3), "    3");
  EXPECT_EQ(gutter.RealGutterWidth(8), 16 + 2 + 8 * 5 + 2);

  // Without automatic sizing the digits fall back to DigitCount silently.
  gutter.SetAutoSize(false);
  changes = 0;
  gutter.AutoSizeDigitCount(12345);
  EXPECT_EQ(gutter.AutoSizeDigits(), 4);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(gutter.RealGutterWidth(7), 16 + 2 + 7 * 4 + 2);

  gutter.SetShowLineNumbers(false);
  EXPECT_EQ(gutter.RealGutterWidth(7), 30);
  gutter.SetVisible(false);
  EXPECT_EQ(gutter.Width(), 0);
  EXPECT_EQ(gutter.RealGutterWidth(7), 0);
  gutter.SetVisible(true);
  EXPECT_EQ(gutter.Width(), 30);
}

TEST_F(TCodeGutterTest, AssignKeepsTheCursorAndTells) {
  TCodeGutter source;
  source.SetCursor(-21);
  source.SetDigitCount(6);
  source.SetShowLineNumbers(true);
  source.SetBorderStyle(gbsRight);
  source.SetGradientEndColor(0x123456);
  TCodeFontDesc font;
  font.Name = u"DejaVu Sans Mono";
  font.Size = 11;
  source.SetFont(font);
  int sourceChanges = 0;
  source.OnChange = [&](TCodeGutter&) { ++sourceChanges; };

  gutter.SetCursor(-3);
  changes = 0;
  gutter.Assign(source);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(sourceChanges, 0);
  EXPECT_EQ(gutter.Cursor(), -3);
  EXPECT_EQ(gutter.DigitCount(), 6);
  EXPECT_EQ(gutter.AutoSizeDigits(), 6);
  EXPECT_TRUE(gutter.ShowLineNumbers());
  EXPECT_EQ(gutter.BorderStyle(), gbsRight);
  EXPECT_EQ(gutter.GradientEndColor(), 0x123456u);
  EXPECT_EQ(gutter.Font(), font);
  gutter.SetWidth(99);  // the handler stayed the target's own
  EXPECT_EQ(changes, 2);
}

TEST(TCodeSelectedColorTest, AssignAlwaysTells) {
  TCodeSelectedColor a, b;
  EXPECT_EQ(a.Background(), clHighlight);
  EXPECT_EQ(a.Foreground(), clHighlightText);
  int changes = 0;
  a.OnChange = [&](TCodeSelectedColor&) { ++changes; };
  a.Assign(b);
  EXPECT_EQ(changes, 1);
  a.SetBackground(clHighlight);
  EXPECT_EQ(changes, 1);
  a.SetForeground(clBlack);
  EXPECT_EQ(changes, 2);
}

TEST(TCodeBookMarkOptTest, ImagesAndAssign) {
  int owner = 0;
  TCodeBookMarkOpt options(&owner);
  std::string log;
  options.OnChange = [&](TCodeBookMarkOpt&) { log += "C"; };
  options.OnImagesAssigned = [&](TCodeBookMarkOpt&, TPngIconList* images) { log += images ? "I" : "i"; };
  auto* images = reinterpret_cast<TPngIconList*>(&log);  // never looked into

  options.SetBookmarkImages(images);
  options.SetBookmarkImages(images);
  EXPECT_EQ(log, "IC");
  options.SetEnableKeys(false);  // no event
  options.SetXoffset(12);
  EXPECT_EQ(log, "IC");

  TCodeBookMarkOpt source(nullptr);
  source.SetLeftMargin(7);
  log.clear();
  options.Assign(source);
  EXPECT_EQ(log, "iC");  // the owner hears that the list is no longer used
  EXPECT_EQ(options.BookmarkImages(), nullptr);
  EXPECT_EQ(options.LeftMargin(), 7);
  EXPECT_TRUE(options.EnableKeys());
  EXPECT_EQ(options.Owner(), &owner);
}
