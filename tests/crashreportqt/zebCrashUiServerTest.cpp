// The crash-UI process as a child: the failing side sends the facts and the
// report and carries out what the stand-in user picks.

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "crashreport/qt/zebCrashUiServer.h"
#include "crashreport/qt/zebExceptDialog.h"
#include "crashreport/qt/zebProgressWindow.h"
#include "crashreport/zebCrashUiAssistant.h"
#include "crashreport/zebCrashUiClient.h"
#include "crashreport/zebCrashUiDelivery.h"
#include "crashreport/zebCrashUiDialog.h"
#include "crashreport/zebExceptObject.h"
#include "crashreport/zebSend.h"
#include "tests/crashreport/LoopbackServer.h"
#include "tests/crashreportqt/CrashUiFixture.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

extern char** environ;

using namespace zeb;

namespace {

struct Played {
  CrashUiOutcome outcome = CrashUiOutcome::Failed;
  std::vector<int> actions;
  std::string notes;
  CrashUiMessage send;  // the send assistant's answer
  int assistant = -1;
};

// Plays the dialog; the actions in `takenOver` are taken over by a handler.
// A session that hears nothing for `peerTimeout` seconds ends.
Played Play(const char* script, std::vector<int> takenOver = {}, int peerTimeout = kCrashUiPeerTimeoutSeconds) {
  testsupport::TempDir dir;
  const std::string out = (dir / "notes").string();
  ::setenv("CRASHUI_TEST_SCRIPT", script, 1);
  ::setenv("CRASHUI_TEST_OUT", out.c_str(), 1);
  PrepareCrashUi(CRASHUI_HOST);
  Played played;
  {
    CrashUiSession session;
    session.SetPeerTimeout(peerTimeout);
    EXPECT_TRUE(session.Start());
    if (!session.Running()) return played;
    EXPECT_TRUE(session.Send(ReportMessage(crashuitest::SampleReport(true), nullptr)));
    CrashUiCallbacks callbacks;
    callbacks.action = [&](int code, const CrashUiMessage&, CrashUiMessage&) {
      played.actions.push_back(code);
      // The failing side asks for the send assistant, as no handler took
      // the action over.
      if (code == kActionSend) played.assistant = RunCrashUiAssistant(session, "SendAssistant", &played.send);
      return std::find(takenOver.begin(), takenOver.end(), code) != takenOver.end();
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

TEST(zebCrashUiServer, TheSendAssistantRunsInTheUiWhenAskedFor) {
  const Played p = Play("send");
  ASSERT_EQ(p.actions, (std::vector<int>{kActionSend, kActionContinue}));
  ReportFieldList header, sections;
  YieldOf(p.send, header, sections);
  EXPECT_EQ(header, (ReportFieldList{{"contact name", "Joe"}, {"contact email", "joe@example.com"}}));
  EXPECT_EQ(sections, (ReportFieldList{{"error details", "saving a key"}}));
  EXPECT_EQ(p.send.Get("mailFrom"), "Joe <joe@example.com>");
  EXPECT_EQ(p.assistant, kFormContinue);
  EXPECT_EQ(p.send.GetInt("result"), kFormContinue);
}

// The beat goes on while the assistant's modal form waits for the user, so
// a user slower than the failing side's patience is no silence.
TEST(zebCrashUiServer, AUserWhoTakesLongerThanThePeerTimeOutIsWaitedFor) {
  const Played p = Play("slow-send", {}, 3);
  EXPECT_EQ(p.actions, (std::vector<int>{kActionSend, kActionContinue}));
  EXPECT_EQ(p.assistant, kFormContinue);
  EXPECT_EQ(p.outcome, CrashUiOutcome::Continue);
}

// A UI whose event loop stopped answers nothing and closes nothing: after the
// peer time-out the failing side takes it for dead (and ends it).
TEST(zebCrashUiServer, AUiThatStopsAnsweringEndsTheDialogAsFailed) {
  const Played p = Play("hang", {}, 2);
  EXPECT_EQ(p.outcome, CrashUiOutcome::Failed);
  EXPECT_TRUE(p.actions.empty());
}

TEST(zebCrashUiServer, AHandlerThatTakesCloseOverKeepsTheDialogOpen) {
  const Played p = Play("close-kept", {kActionClose});
  EXPECT_EQ(p.outcome, CrashUiOutcome::Continue);
  EXPECT_EQ(p.actions, (std::vector<int>{kActionClose, kActionContinue}));
  EXPECT_EQ(p.notes, "action 10 taken over, still shown\n");
}

// A delivery without a window starts a crash-UI process of its own once it
// shows something; its progress window and its failure box appear there,
// and the failure returns when the user closed the box.
TEST(zebCrashUiServer, ADeliveryShowsItsProgressAndFailureInASessionOfItsOwn) {
  testsupport::TempDir dir;
  const std::string out = (dir / "notes").string();
  ::setenv("CRASHUI_TEST_SCRIPT", "", 1);
  ::setenv("CRASHUI_TEST_OUT", out.c_str(), 1);
  PrepareCrashUi(CRASHUI_HOST);
  auto readNotes = [&] {
    std::ifstream notes(out);
    std::stringstream all;
    all << notes.rdbuf();
    return all.str();
  };
  const auto installed = std::make_shared<CrashUiDeliveryServices>();
  {
    const std::shared_ptr<DeliveryServices> delivery = installed->BeginDelivery();
    EXPECT_NE(delivery, installed);
    const std::shared_ptr<SendProgress> progress = delivery->CreateProgressWindow("Sending bug report...");
    progress->AddArea(100, "Connecting to server...");
    progress->AddArea(300, "Sending data...");
    progress->AreaDone();
    ASSERT_TRUE(progress->Show(false));
    progress->SetPosition(500);
    EXPECT_EQ(progress->CurrentArea(), 1);
    EXPECT_TRUE(testsupport::waitUntil([&] { return readNotes() == "progress Sending bug report...\n"; }))
        << readNotes();
    progress->Close();
    delivery->ShowSendFailure("Sorry, sending the bug report didn't work.");
    EXPECT_EQ(readNotes(),
              "progress Sending bug report...\nbox Sorry, sending the bug report didn't work.\n");
  }
  PrepareCrashUi();
}

// A send the user waits for, with this program's settings and an upload
// the server refuses: the installed services show its progress and then the
// failure in a crash-UI process.
TEST(zebCrashUiServer, AFailedSendShowsItsProgressAndThenTheFailure) {
  testsupport::TempDir dir;
  testsupport::ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
  testsupport::ScopedEnv temp("TMPDIR", dir.path().string());
  testsupport::ScopedEnv noProxy("no_proxy", "*");
  const std::string out = (dir / "notes").string();
  ::setenv("CRASHUI_TEST_SCRIPT", "", 1);
  ::setenv("CRASHUI_TEST_OUT", out.c_str(), 1);
  PrepareCrashUi(CRASHUI_HOST);
  crashtest::LoopbackServer server([](crashtest::LoopbackServer::Connection& c) {
    if (c.readHttpRequest()) c.send("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
    c.waitForClose();
  });
  auto exception = NewExceptionObject(ExceptionFacts{});
  exception->SetHttpServer("http://127.0.0.1/submit.php");
  exception->SetHttpPort(server.port());
  SetDeliveryServices(std::make_shared<CrashUiDeliveryServices>());
  EXPECT_EQ(DeliverBugReport("date/time : now\r\nexception message : a failure", nullptr, false, false, exception),
            kNotSent);
  SetDeliveryServices(nullptr);
  std::ifstream notes(out);
  std::stringstream all;
  all << notes.rdbuf();
  EXPECT_EQ(all.str(), "progress " + exception->SendBoxTitle() + "\nbox " + exception->SendFailMsg() + "\n");
  EXPECT_EQ(exception->SendFailMsg(), "Sorry, sending the bug report didn't work.");
  EXPECT_FALSE(exception->ReportSent());
  PrepareCrashUi();
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

TEST(zebCrashUiServer, ProgressFreezeEndAndPeerLossOverTheSocket) {
  int fd[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd), 0);
  CrashUiController controller(fd[1]);
  bool gone = false;
  QObject::connect(&controller, &CrashUiController::finished, [&] { gone = true; });
  controller.Start();
  CrashUiDecoder decoder;
  CrashUiMessage m;
  ASSERT_EQ(ReceiveCrashUiMessage(fd[0], decoder, m, 10000), CrashUiRead::Message);
  EXPECT_EQ(m.type, kUiReady);
  auto until = [](const std::function<bool()>& done) {
    return testsupport::waitUntil([&] {
      QApplication::processEvents();
      return done();
    });
  };
  auto op = [&](const char* name, std::int64_t value, const char* text = "") {
    ASSERT_TRUE(SendCrashUiMessage(fd[0], ProgressMessage(name, value, text)));
  };
  op("add", 1, "Connecting to server...");
  op("add", 3, "Sending data...");
  ASSERT_TRUE(SendCrashUiMessage(fd[0], ShowProgressMessage("Sending bug report...", 0, true)));
  op("position", 1000);
  ASSERT_TRUE(until([&] { return controller.Progress() && controller.Progress()->BarValue() == 250; }));
  op("done", 0);
  op("position", 500);
  ASSERT_TRUE(until([&] { return controller.Progress()->BarValue() == 625; }));
  op("area", 2);
  ASSERT_TRUE(until([&] { return controller.Progress()->BarValue() == 1000; }));
  op("close", 0);
  ASSERT_TRUE(until([&] { return !controller.Progress()->IsShown(); }));

  // The frozen program answered: the dialog goes without an action.
  CrashUiFacts facts = crashuitest::ProgramFacts();
  facts.kind = 1;
  ASSERT_TRUE(SendCrashUiMessage(fd[0], FactsMessage(facts, false, false)));
  ASSERT_TRUE(until([&] { return controller.Dialog() && controller.Dialog()->isVisible(); }));
  EXPECT_EQ(controller.Dialog()->findChild<QLabel*>("messageText")->text(), "The application seems to be frozen.");
  CrashUiMessage over;
  over.type = kUiFreezeOver;
  ASSERT_TRUE(SendCrashUiMessage(fd[0], over));
  CrashUiMessage closed;
  ASSERT_TRUE(until([&] {
    return ReceiveCrashUiMessage(fd[0], decoder, closed, 10) == CrashUiRead::Message && closed.type == kUiDialogClosed;
  }));

  ::close(fd[0]);
  ASSERT_TRUE(until([&] { return gone; }));
}

TEST(zebCrashUiServer, WithoutAPeerTheUiEndsAtOnce) {
  // Started by hand with a socket number that is not open.
  std::string program = CRASHUI_HOST;
  std::vector<char*> argv{program.data(), const_cast<char*>(kCrashUiSwitch), const_cast<char*>("99"), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
  int status = 0;
  const bool ended = testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
