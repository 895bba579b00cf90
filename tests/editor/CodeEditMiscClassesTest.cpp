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
