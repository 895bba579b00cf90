// The crash-UI process as a child: the failing side sends the facts and the
// report and carries out what the stand-in user picks.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "crashreport/zebCrashUiClient.h"
#include "crashreport/zebCrashUiAssistant.h"
#include "crashreport/zebCrashUiDialog.h"
#include "tests/crashreportqt/CrashUiFixture.h"
#include "tests/support/TempDir.h"

using namespace zeb;

namespace {

struct Played {
  CrashUiOutcome outcome = CrashUiOutcome::Failed;
  std::vector<int> actions;
  std::string notes;
  CrashUiMessage send;
};

Played Play(const char* script) {
  testsupport::TempDir dir;
  const std::string out = (dir / "notes").string();
  ::setenv("CRASHUI_TEST_SCRIPT", script, 1);
  ::setenv("CRASHUI_TEST_OUT", out.c_str(), 1);
  PrepareCrashUi(CRASHUI_HOST);
  Played played;
  {
    CrashUiSession session;
    EXPECT_TRUE(session.Start());
    if (!session.Running()) return played;
    EXPECT_TRUE(session.Send(ReportMessage(crashuitest::SampleReport(true), nullptr)));
    CrashUiCallbacks callbacks;
    callbacks.action = [&](int code, const CrashUiMessage& m) {
      played.actions.push_back(code);
      if (code == kActionSend) played.send = m;
      return false;
    };
    played.outcome = RunCrashUiDialog(session, FactsMessage(crashuitest::ProgramFacts(), false, false), callbacks);
  }
  std::ifstream notes(out);
  std::stringstream all;
  all << notes.rdbuf();
  played.notes = all.str();
  PrepareCrashUi();
  return played;
}

}  // namespace

TEST(zebCrashUiServer, TheUserDecides) {
  struct Case {
    const char* script;
    CrashUiOutcome outcome;
    std::vector<int> actions;
  } cases[] = {
      {"escape", CrashUiOutcome::Continue, {kActionContinue}},
      {"close", CrashUiOutcome::Close, {kActionClose}},
      {"restart", CrashUiOutcome::Restart, {kActionRestart}},
      {"close-request", CrashUiOutcome::Continue, {kActionContinue}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const Played p = Play(c.script);
    EXPECT_EQ(p.outcome, c.outcome);
    EXPECT_EQ(p.actions, c.actions);
    if (std::string(c.script) == "close-request") {
      EXPECT_EQ(p.notes, "close request ignored, still shown\n");
    }
  }
}

TEST(zebCrashUiServer, SendRunsTheAssistantFirst) {
  const Played p = Play("send");
  ASSERT_EQ(p.actions, (std::vector<int>{kActionSend, kActionContinue}));
  ReportFieldList header, sections;
  YieldOf(p.send, header, sections);
  EXPECT_EQ(header, (ReportFieldList{{"contact name", "Joe"}, {"contact email", "joe@example.com"}}));
  EXPECT_EQ(sections, (ReportFieldList{{"error details", "saving a key"}}));
  EXPECT_EQ(p.send.Get("mailFrom"), "Joe <joe@example.com>");
  EXPECT_EQ(p.send.GetInt("assistant"), kFormContinue);
}

TEST(zebCrashUiServer, ShowReopensWithTheReport) {
  const Played p = Play("show");
  EXPECT_EQ(p.outcome, CrashUiOutcome::Continue);
  EXPECT_EQ(p.actions, (std::vector<int>{kActionShow, kActionContinue}));
  EXPECT_EQ(p.notes, "tabs general,call stacks,modules,processes,hardware,cpu regs,stack dump,disasm,\n");
}

TEST(zebCrashUiServer, ADyingUiLeavesTheConsoleBranch) {
  const Played p = Play("die");
  EXPECT_EQ(p.outcome, CrashUiOutcome::Failed);
  EXPECT_TRUE(p.actions.empty());
}

TEST(zebCrashUiServer, AProgramThatCannotStartTheUi) {
  PrepareCrashUi("/nonexistent/program");
  CrashUiSession session;
  EXPECT_FALSE(session.Start());
  EXPECT_FALSE(session.Running());
  PrepareCrashUi();
}
