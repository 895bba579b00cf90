// Sending a bug report with this program's settings (HTTP upload in the
// background) against an upload server on 127.0.0.1: the attachments, the
// deletion of the sent file, the "sent" mark, the failure message and the
// fallbacks to the desktop's mail program.

#include "crashreport/zebSend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptObject.h"
#include "crashreport/zebHttp.h"
#include "tests/crashreport/FakeTools.h"
#include "tests/crashreport/LoopbackServer.h"
#include "tests/crashreport/SmtpScript.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using namespace zeb;
using crashtest::LoopbackServer;
namespace fs = std::filesystem;

namespace {

const std::string B(kMultipartBoundary);
const char* kOk = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
const char* kFailed = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n";

// A progress window that remembers how it was shown.
class RecordingProgress : public SendProgress {
public:
  void AddArea(std::int64_t weight, const std::string& text) override { inner.AddArea(weight, text); }
  void ClearAreas() override { inner.ClearAreas(); }
  void AreaDone() override { inner.AreaDone(); }
  int CurrentArea() const override { return inner.CurrentArea(); }
  void SetCurrentArea(int index) override { inner.SetCurrentArea(index); }
  void SetPosition(int) override {}
  bool Show(bool activate) override {
    shown.push_back(activate);
    return true;
  }
  void Close() override { ++closed; }

  NullSendProgress inner;
  std::vector<bool> shown;
  int closed = 0;
};

// Records what the delivery asks of the windows.
class RecordingServices : public DeliveryServices {
public:
  std::shared_ptr<SendProgress> CreateProgressWindow(const std::string& title) override {
    std::lock_guard lock(mutex);
    titles.push_back(title);
    progress = std::make_shared<RecordingProgress>();
    return progress;
  }
  void ShowSendFailure(const std::string& text) override {
    std::lock_guard lock(mutex);
    failures.push_back(text);
  }
  std::mutex mutex;
  std::shared_ptr<RecordingProgress> progress;
  std::vector<std::string> titles;
  std::vector<std::string> failures;
};

// The content of a form part in a multipart body; empty when absent. (The
// first part's leading CR LF ends the request's head.)
std::string partOf(const std::string& body, const std::string& partHead) {
  const std::string head = partHead.substr(2);
  const std::size_t at = body.find(head);
  if (at == std::string::npos) return {};
  const std::size_t start = at + head.size();
  const std::size_t end = body.find("\r\n--" + B, start);
  return body.substr(start, end - start);
}

class zebSend : public ::testing::Test {
protected:
  void SetUp() override {
    services = std::make_shared<RecordingServices>();
    SetDeliveryServices(services);
  }
  void TearDown() override { SetDeliveryServices(nullptr); }

  // An exception object over the program's settings, uploading to `port`.
  std::shared_ptr<TIZeqException> exceptionFor(int port) {
    auto e = NewExceptionObject(ExceptionFacts{});
    e->SetHttpServer("http://127.0.0.1/submit.php");
    e->SetHttpPort(port);
    return e;
  }
  NVBitmapPtr screenshot() {
    auto b = TINVBitmap::Create(16, 8);
    for (std::size_t i = 0; i < b->Pixels().size(); ++i) b->Pixels()[i] = std::uint8_t(i * 5);
    return b;
  }
  fs::path reportFile() const { return data.path() / "hivescope" / "bugreport.txt"; }

  testsupport::TempDir data{"hivescope-send-data"};
  testsupport::TempDir temp{"hivescope-send-temp"};
  testsupport::ScopedEnv dataHome{"XDG_DATA_HOME", data.path().string()};
  testsupport::ScopedEnv tmpDir{"TMPDIR", temp.path().string()};
  testsupport::ScopedEnv httpProxy{"http_proxy", ""};
  testsupport::ScopedEnv noProxy{"no_proxy", "*"};
  std::shared_ptr<RecordingServices> services;
  const std::string report = "date/time         : 2026-12-11\r\nexception message : Access violation.\r\nmore";
};

}  // namespace

TEST_F(zebSend, ProgramSettingsUploadInTheBackground) {
  const std::string older = "date/time : yesterday\r\n\r\n";
  testsupport::writeFileText(reportFile(), older);
  LoopbackServer server([](LoopbackServer::Connection& c) {
    if (c.readHttpRequest()) c.send(kOk);
    c.waitForClose();
  });
  auto e = exceptionFor(server.port());
  std::thread sender;
  EXPECT_EQ(DeliverBugReport(report, screenshot(), false, e->SendInBackgr(), e, false, &sender), kSent);
  ASSERT_TRUE(sender.joinable());
  sender.join();
  ASSERT_TRUE(server.waitServed());

  const std::string request = server.transcript();
  const std::string body = request.substr(request.find("\r\n\r\n") + 4);
  EXPECT_EQ(partOf(body, FilePartHead("bugreport.txt", "BugReport")), older + report + "\r\n\r\n");
  EXPECT_TRUE(partOf(body, FilePartHead("screenshot.png", "ScreenShot")).starts_with("\x89PNG\r\n\x1a\n"));
  EXPECT_EQ(partOf(body, FieldPartHead("MailSubject")), "bug report");
  EXPECT_EQ(partOf(body, FieldPartHead("MailBody")), "please find the bug report attached");
  EXPECT_FALSE(fs::exists(reportFile()));
  EXPECT_TRUE(e->ReportSent());
  EXPECT_TRUE(services->failures.empty());
  EXPECT_EQ(services->titles, std::vector<std::string>{"Sending bug report..."});
  EXPECT_FALSE(fs::exists(TempFolder() + "screenShot.png"));
}

// A second send into the same slot waits for the first, which may still use
// the exception.
TEST_F(zebSend, SecondSendInTheSlotWaitsForTheFirst) {
  LoopbackServer server(
      [](LoopbackServer::Connection& c) {
        if (c.readHttpRequest()) c.send(kOk);
        c.waitForClose();
      },
      2);
  auto e = exceptionFor(server.port());
  std::thread sender;
  EXPECT_EQ(DeliverBugReport(report, nullptr, false, true, e, false, &sender), kSent);
  EXPECT_EQ(DeliverBugReport(report, nullptr, false, true, e, false, &sender), kSent);
  sender.join();
  EXPECT_TRUE(server.waitServed(2));
  EXPECT_TRUE(e->ReportSent());
}

TEST_F(zebSend, FailedUploadSaysSoUnlessSilent) {
  testsupport::writeFileText(reportFile(), "date/time : yesterday\r\n\r\n");
  for (const bool silent : {false, true}) {
    SCOPED_TRACE(silent);
    services->failures.clear();
    LoopbackServer server([](LoopbackServer::Connection& c) {
      if (c.readHttpRequest()) c.send(kFailed);
      c.waitForClose();
    });
    auto e = exceptionFor(server.port());
    EXPECT_EQ(DeliverBugReport(report, nullptr, silent, false, e), kNotSent);
    EXPECT_EQ(services->failures,
              silent ? std::vector<std::string>{} : std::vector<std::string>{"Sorry, sending the bug report didn't work."});
    EXPECT_TRUE(fs::exists(reportFile()));
    EXPECT_FALSE(e->ReportSent());
  }
}

// The endpoint the program ships with names no host that exists yet.
TEST_F(zebSend, ShippedEndpointFails) {
  auto e = NewExceptionObject(ExceptionFacts{});
  EXPECT_NE(e->HttpServer().find(".invalid/"), std::string::npos) << e->HttpServer();
  EXPECT_EQ(DeliverBugReport(report, nullptr, false, false, e), kNotSent);
  EXPECT_EQ(services->failures, std::vector<std::string>{"Sorry, sending the bug report didn't work."});
}

TEST_F(zebSend, CopyOfTheReportFile) {
  struct Case {
    const char* name;
    bool fileThere;
    bool saved;
    bool attachFile;
    std::string expected;  // what goes out in BugReport
    bool deleted;
  };
  const std::string older = "date/time : yesterday\r\n\r\n";
  const Case cases[] = {
      {"whole file with the report", true, false, true, older + report + "\r\n\r\n", true},
      {"already saved into the file", true, true, true, older, true},
      {"no file yet", false, false, true, report + "\r\n\r\n", false},
      {"only this report", true, false, false, report + "\r\n\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(reportFile());
    if (c.fileThere) testsupport::writeFileText(reportFile(), older);
    LoopbackServer server([](LoopbackServer::Connection& c) {
      if (c.readHttpRequest()) c.send(kOk);
      c.waitForClose();
    });
    auto e = exceptionFor(server.port());
    e->SetReportSaved(c.saved);
    e->SetAttachBugRepFile(c.attachFile);
    EXPECT_EQ(DeliverBugReport(report, nullptr, false, false, e), kSent);
    ASSERT_TRUE(server.waitServed());
    const std::string request = server.transcript();
    EXPECT_EQ(partOf(request, FilePartHead("bugreport.txt", "BugReport")), c.expected);
    EXPECT_EQ(fs::exists(reportFile()), c.fileThere && !c.deleted);
  }
}

// The automatic send: no window unless AutoSendBox asks for one, and then
// one that does not take the focus.
TEST_F(zebSend, SilentDeliveryShowsNoWindowUnlessAsked) {
  for (const bool box : {false, true}) {
    SCOPED_TRACE(box);
    auto e = exceptionFor(1);  // nobody listens on port 1
    e->SetAutoSendBox(box);
    std::thread sender;
    EXPECT_EQ(DeliverBugReport(report, nullptr, true, true, e, false, &sender), kSent);
    sender.join();
    ASSERT_TRUE(services->progress);
    EXPECT_EQ(services->progress->shown, box ? std::vector<bool>{false} : std::vector<bool>{});
    EXPECT_GE(services->progress->closed, 1);
    EXPECT_TRUE(services->failures.empty());
    EXPECT_FALSE(e->ReportSent());
  }
}

// SMTP through a configured server: one session for both recipients, the
// report attached.
TEST_F(zebSend, MailThroughTheConfiguredServer) {
  testsupport::writeFileText(reportFile(), "date/time : yesterday\r\n\r\n");
  crashtest::Dialogue d;
  d.rcptReplies = {"250 OK\r\n", "550 unknown\r\n"};
  LoopbackServer server(crashtest::smtpScript(d));
  auto e = NewExceptionObject(ExceptionFacts{});
  e->SetUploadViaHttp(false);
  e->SetMailAsSmtpClient(true);
  e->SetSmtpServer("127.0.0.1");
  e->SetSmtpPort(server.port());
  e->SetMailAddr("bugs@x.test; dev@y.test");
  EXPECT_EQ(DeliverBugReport(report, screenshot(), false, false, e), kSent);
  ASSERT_TRUE(server.waitServed());
  std::vector<std::string> envelope;
  for (const std::string& c : d.commands)
    if (c.starts_with("MAIL") || c.starts_with("RCPT")) envelope.push_back(c);
  const std::vector<std::string> expected = {"MAIL FROM:<bugs@x.test>", "RCPT TO:<bugs@x.test>", "RCPT TO:<dev@y.test>"};
  EXPECT_EQ(envelope, expected);
  EXPECT_NE(d.message.find("From: zebExcept <bugs@x.test>\r\n"), std::string::npos) << d.message;
  EXPECT_NE(d.message.find("Subject: =?ISO-8859-1?Q?bug=20report?=\r\n"), std::string::npos);
  EXPECT_NE(d.message.find("Content-Disposition: attachment; filename=\"bugreport.txt\""), std::string::npos);
  EXPECT_NE(d.message.find("Content-Type: image/png; name=\"screenshot.png\""), std::string::npos);
  EXPECT_TRUE(e->ReportSent());
  EXPECT_FALSE(fs::exists(reportFile()));
}

TEST_F(zebSend, NothingSwitchedOn) {
  auto e = NewExceptionObject(ExceptionFacts{});
  e->SetUploadViaHttp(false);
  e->SetMailViaMapi(false);
  e->SetMailViaMailto(false);
  EXPECT_EQ(DeliverBugReport(report, screenshot(), false, false, e), kNotSent);
  EXPECT_TRUE(services->titles.empty());
  EXPECT_EQ(services->failures.size(), 1u);
  services->failures.clear();
  EXPECT_EQ(DeliverBugReport(report, screenshot(), true, false, e), kNotSent);
  EXPECT_TRUE(services->failures.empty());
}

TEST_F(zebSend, MailProgramFallbacks) {
  crashtest::FakeTools tools;
  tools.add("xdg-email", 0);
  tools.add("xdg-open", 0);
  testsupport::writeFileText(reportFile(), "date/time : yesterday\r\n\r\n");

  // The upload fails; the mail program gets the same files, the screenshot
  // still there for it.
  auto e = NewExceptionObject(ExceptionFacts{});
  e->SetMailViaMapi(true);
  e->SetMailAddr("bugs@x.test");
  EXPECT_EQ(DeliverBugReport(report, screenshot(), false, false, e), kSent);
  const std::vector<std::string> args = tools.args("xdg-email");
  const std::vector<std::string> expected = {"--subject", "bug report", "--body", "please find the bug report attached",
                                             "--attach", TempFolder() + "bugreport.txt",
                                             "--attach", TempFolder() + "screenShot.png", "bugs@x.test"};
  EXPECT_EQ(args, expected);
  EXPECT_TRUE(fs::exists(TempFolder() + "screenShot.png"));
  EXPECT_TRUE(e->ReportSent());
  EXPECT_FALSE(fs::exists(reportFile()));

  // mailto: the report itself is the body; the file stays.
  testsupport::writeFileText(reportFile(), "date/time : yesterday\r\n\r\n");
  auto m = NewExceptionObject(ExceptionFacts{});
  m->SetMailViaMailto(true);
  m->SetMailAddr("bugs@x.test");
  EXPECT_EQ(DeliverBugReport(report, nullptr, false, false, m), kSent);
  const std::vector<std::string> open = tools.args("xdg-open", true);
  ASSERT_EQ(open.size(), 1u);
  EXPECT_TRUE(open[0].starts_with("mailto:bugs@x.test?subject=bug%20report&body=date/time%20"));
  EXPECT_NE(open[0].find("%0D%0Aexception%20message%20"), std::string::npos);
  EXPECT_TRUE(fs::exists(reportFile()));
  EXPECT_TRUE(services->failures.empty());
}

// Items whose ZIP names differ only in case share one archive.
TEST_F(zebSend, ZipGroupsByNameIgnoringCase) {
  testsupport::writeFileText(temp.path() / "a.log", "first log");
  testsupport::writeFileText(temp.path() / "b.log", "second log");
  testsupport::writeFileText(temp.path() / "c.txt", "plain");
  const IZeqAttachments items = NewAttachmentList();
  items->Append((temp.path() / "a.log").string(), "first.log", "Logs.zip", "Logs");
  items->Append((temp.path() / "c.txt").string(), "c.txt", "", "Plain");
  items->Append((temp.path() / "missing.log").string(), "missing.log", "Logs.zip", "Logs");
  items->Append((temp.path() / "b.log").string(), "second.log", "logs.ZIP", "Logs");
  AttachmentLists lists;
  PrepareSendAttachments(items, lists);
  ASSERT_EQ(lists.Count(), 2u);
  EXPECT_EQ(lists.files[0], TempFolder() + "Logs.zip");
  EXPECT_EQ(lists.sendAs[0], "Logs.zip");
  EXPECT_EQ(lists.fields[0], "Logs.zip");
  EXPECT_EQ(lists.files[1], (temp.path() / "c.txt").string());
  if (!testsupport::haveTool("unzip")) GTEST_SKIP() << "unzip is not installed";
  const std::string listing = testsupport::commandOutput("unzip -Z1 " + testsupport::shellQuote(lists.files[0]));
  EXPECT_EQ(listing, "first.log\nsecond.log\n");
}

TEST(zebSendParts, ScreenshotFormatAndExceptionMessage) {
  const std::pair<int, int> formats[] = {{4, kPng16Greys},     {51200, kPngLimit50K},  {102400, kPngLimit100K},
                                         {204800, kPngLimit200K}, {307200, kPngLimit300K}, {8, kPng256Colours},
                                         {0, kPng256Colours}};
  for (const auto& [depth, format] : formats) EXPECT_EQ(ScreenshotFormat(depth), format) << depth;
  EXPECT_EQ(ReportExceptionMessage("date/time : x\r\nexception message : Access violation. \r\nnext"),
            "Access violation.");
  EXPECT_EQ(ReportExceptionMessage("exception message : first line has no CR LF before it"), "");
}

// A send from a window shows its progress and failure through the window's
// services; its background thread has no window and uses the installed ones.
TEST_F(zebSend, TheWindowsServicesServeItsOwnSendOnly) {
  auto window = std::make_shared<RecordingServices>();
  for (const bool background : {false, true}) {
    SCOPED_TRACE(background);
    window->failures.clear();
    services->failures.clear();
    LoopbackServer server([](LoopbackServer::Connection& c) {
      if (c.readHttpRequest()) c.send(kFailed);
      c.waitForClose();
    });
    auto e = exceptionFor(server.port());
    std::thread sender;
    DeliverBugReport(report, nullptr, false, background, e, false, &sender, window);
    if (sender.joinable()) sender.join();
    const std::vector<std::string> failed{"Sorry, sending the bug report didn't work."};
    EXPECT_EQ(window->failures, background ? std::vector<std::string>{} : failed);
    EXPECT_EQ(services->failures, background ? failed : std::vector<std::string>{});
  }
}
