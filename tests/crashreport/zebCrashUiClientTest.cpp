#include "crashreport/zebCrashUiClient.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

#include "crashreport/zebExceptObject.h"
#include "tests/support/TempDir.h"

using namespace zeb;

TEST(zebCrashUiClient, ExceptionFactsReportAndYieldRoundTrip) {
  ExceptionFacts given;
  given.exception = std::make_exception_ptr(std::runtime_error("Disk full"));
  given.canContinue = false;
  auto exception = NewExceptionObject(given);
  exception->ReportHeader()->Assign("exception message", "Disk full.");
  exception->ReportSections()->Assign("modules", "0000555500000000  crashprobe");

  const CrashUiFacts facts = CrashUiFactsOf(*exception, 2, true, "/tmp/shot.bmp");
  EXPECT_EQ(facts.message, "Disk full.");
  EXPECT_EQ(facts.className, "runtime_error");
  EXPECT_FALSE(facts.canContinue);
  EXPECT_EQ(facts.showSetting, 2);
  EXPECT_EQ(facts.settings.Text("SendBtnTxt"), "send bug report");
  EXPECT_TRUE(facts.settings.Bool("SendBtnVis"));
  EXPECT_EQ(facts.settings.Text("SendAssis"), "SendAssistant");
  EXPECT_NE(facts.settings.Text("Assistant1").find("ContactForm"), std::string::npos);

  const CrashUiReport report = CrashUiReportOf(*exception);
  EXPECT_EQ(report.header, (ReportFieldList{{"exception message", "Disk full."}}));
  EXPECT_EQ(report.sections.size(), 1u);

  testsupport::TempDir dir;
  const std::string edited = (dir / "edited.bmp").string();
  ASSERT_TRUE(TINVBitmap::Create(6, 4)->SaveAsBmp(edited));
  CrashUiMessage yield;
  yield.type = kUiAction;
  AddYield(yield, {{"contact email", "joe@example.com"}}, {{"error details", "saving"}});
  yield.Add("mailFrom", "Joe <joe@example.com>");
  yield.AddInt("attach", 0);
  yield.Add("screenshot", edited);
  ApplyCrashUiYield(*exception, yield);
  EXPECT_EQ(exception->ReportHeader()->ValueOf("contact email"), "joe@example.com");
  EXPECT_EQ(exception->ReportSections()->ValueOf("error details"), "saving");
  EXPECT_EQ(exception->MailFrom(), "Joe <joe@example.com>");
  EXPECT_FALSE(exception->AppendScreenshot());
  ASSERT_TRUE(exception->Screenshot());
  EXPECT_EQ(exception->Screenshot()->PixelWidth(), 6);
}

namespace {

// A stand-in crash-UI process: a shell script that greets on its socket (the
// ready frame) and then does what `then` says, reading nothing.
class ScriptedUi {
public:
  explicit ScriptedUi(const std::string& then) {
    const std::string file = (dir_ / "ui.sh").string();
    std::ofstream(file) << "#!/bin/sh\nprintf '\\005\\000\\000\\000\\024\\000\\000\\000\\000' >&3\n" << then << "\n";
    ::chmod(file.c_str(), 0700);
    PrepareCrashUi(file);
  }
  ~ScriptedUi() { PrepareCrashUi(); }

private:
  testsupport::TempDir dir_;
};

// Whether the session's UI process is gone (reaped by the session).
bool Reaped(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

// A UI that greets and then says nothing more (its loop is stuck): every
// wait on it ends after the peer time-out, as if it had closed, and the
// session ends the process.
TEST(zebCrashUiClient, ASilentUiEndsEveryConversationAfterThePeerTimeOut) {
  ScriptedUi ui("exec sleep 600");
  struct Case {
    const char* name;
    std::function<bool(CrashUiSession&)> failed;
  } cases[] = {
      {"dialog", [](CrashUiSession& s) { return RunCrashUiDialog(s, CrashUiMessage{kUiFacts, {}}, {}) == CrashUiOutcome::Failed; }},
      {"assistant", [](CrashUiSession& s) { return RunCrashUiAssistant(s, "SendAssistant", nullptr) == 0; }},
      {"text", [](CrashUiSession& s) { return !ShowCrashUiText(s, "title", "text"); }},
      {"save path", [](CrashUiSession& s) { return AskCrashUiSavePath(s, "/tmp", "bugreport.txt", "save").empty(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CrashUiSession session;
    session.SetPeerTimeout(1);
    ASSERT_TRUE(session.Start());
    const pid_t pid = session.Pid();
    EXPECT_TRUE(c.failed(session));
    EXPECT_FALSE(session.Running());
    EXPECT_TRUE(Reaped(pid));
  }
}

// A UI that takes no bytes: a report larger than the socket holds is given up
// after the peer time-out instead of blocking the failing process for good.
TEST(zebCrashUiClient, ASendTheUiNeverTakesFailsAfterThePeerTimeOut) {
  ScriptedUi ui("exec sleep 600");
  CrashUiSession session;
  session.SetPeerTimeout(1);
  ASSERT_TRUE(session.Start());
  CrashUiReport report;
  report.sections = {{"stack dump", std::string(16u << 20, 'x')}};
  EXPECT_FALSE(session.Send(ReportMessage(report, nullptr)));
  EXPECT_FALSE(session.Running());
}

// The UI's beat is no message of its own: a wait sees the answer behind it,
// and a UI that beats is alive however long its answer takes.
TEST(zebCrashUiClient, TheBeatKeepsASlowUiAliveAndIsNeverAnAnswer) {
  // Beats every 0.1 s for four seconds and more, then the text box is closed.
  ScriptedUi ui("i=0; while [ $i -lt 40 ]; do printf '\\005\\000\\000\\000\\032\\000\\000\\000\\000' >&3; "
                "sleep 0.1; i=$((i+1)); done; printf '\\005\\000\\000\\000\\030\\000\\000\\000\\000' >&3; "
                "exit 0");
  CrashUiSession session;
  session.SetPeerTimeout(2);
  ASSERT_TRUE(session.Start());
  EXPECT_TRUE(ShowCrashUiText(session, "title", "text"));
  EXPECT_TRUE(session.Running());
}
