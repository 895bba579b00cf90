// The SMTP session against scripted servers on 127.0.0.1 (replies split over
// packets, AUTH offers, refused recipients) and against python's aiosmtpd,
// which reads the mail as a real server would.

#include "crashreport/zebSmtp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/zebCrypt.h"
#include "tests/crashreport/LoopbackServer.h"
#include "tests/crashreport/PythonCheck.h"
#include "tests/crashreport/SmtpScript.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

using namespace zeb;
using crashtest::Dialogue;
using crashtest::LoopbackServer;
using crashtest::smtpScript;

namespace {

SmtpTransfer transferTo(int port) {
  SmtpTransfer t;
  t.server = "127.0.0.1";
  t.port = port;
  t.sender = "Crash Reporter <crash@x.test>";
  t.subject = "bug report";
  t.body = "hello";
  t.heloName = "client.test";
  return t;
}

bool hasCommand(const Dialogue& d, std::string_view prefix) {
  for (const std::string& c : d.commands)
    if (c.starts_with(prefix)) return true;
  return false;
}

}  // namespace

TEST(zebSmtp, BodyIsMadeTransparent) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {".x\n.\nend", "..x\r\n..\r\nend"},
      {"a\r\n.\r\nb", "a\r\n..\r\nb"},
      {"a\rb\n\nc.", "a\r\nb\r\n\r\nc."},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(TransparentBody(c.in), c.out);
  }
}

TEST(zebSmtp, HeaderTexts) {
  EXPECT_EQ(EncodedSubject("bug report", false), "=?ISO-8859-1?Q?bug=20report?=");
  EXPECT_EQ(EncodedSubject("a=b?", false), "=?ISO-8859-1?Q?a=3Db=3F?=");
  EXPECT_EQ(EncodedSubject("bug report", true), "=?UTF-8?B?" + Base64EncodeText("bug report") + "?=");
  EXPECT_EQ(MailDateText(0), "1 Jan 1970 00:00:00 UT");
  EXPECT_EQ(MailDateText(1796969049), "11 Dec 2026 06:04:09 UT");
  EXPECT_TRUE(std::regex_match(NewMessageId(), std::regex("<[0-9a-f]{16}@zebExcept>"))) << NewMessageId();
}

// A greeting whose last line comes in a later packet is read whole; "=" on
// the AUTH line offers LOGIN; one of two recipients accepted is enough.
TEST(zebSmtp, SessionWithSplitGreetingLoginAndOneRecipient) {
  Dialogue d;
  d.greeting = "";
  d.ehlo = "250-mail.test\r\n250-AUTH=LOGIN\r\n250 OK\r\n";
  d.rcptReplies = {"550 no such user\r\n", "250 OK\r\n"};
  auto script = smtpScript(d);
  LoopbackServer server([&](LoopbackServer::Connection& c) {
    c.send("220-mail.test first line\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    c.send("220 mail.test last line\r\n");
    script(c);
  });
  SmtpTransfer t = transferTo(server.port());
  t.account = "acc";
  t.password = "pw";
  EXPECT_TRUE(SmtpSession(t, " nobody@x.test ; Joe <joe@y.test> "));
  ASSERT_TRUE(server.waitServed());
  const std::vector<std::string> expected = {"EHLO client.test",
                                             "AUTH LOGIN",
                                             Base64EncodeText("acc"),
                                             Base64EncodeText("pw"),
                                             "MAIL FROM:<crash@x.test>",
                                             "RCPT TO:<nobody@x.test>",
                                             "RCPT TO:<joe@y.test>",
                                             "DATA",
                                             "QUIT"};
  EXPECT_EQ(testsupport::joinedLines(d.commands), testsupport::joinedLines(expected));
  EXPECT_NE(d.message.find("To: <nobody@x.test>, Joe <joe@y.test>\r\n"), std::string::npos) << d.message;
  EXPECT_NE(d.message.find("From: Crash Reporter <crash@x.test>\r\n"), std::string::npos);
  EXPECT_NE(d.message.find("\r\nhello\r\n.\r\n"), std::string::npos);
}

TEST(zebSmtp, AccountWithoutLoginOfferFailsBeforeMailFrom) {
  struct Case {
    const char* ehlo;
    bool login;
  } cases[] = {
      {"250-mail.test\r\n250-AUTH PLAIN CRAM-MD5\r\n250 OK\r\n", false},
      {"250-mail.test\r\n250 OK\r\n", false},
      {"250-mail.test\r\n250-AUTH PLAIN LOGIN\r\n250 OK\r\n", true},
      {"250-mail.test\r\n250-auth login\r\n250 OK\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ehlo);
    Dialogue d;
    d.ehlo = c.ehlo;
    LoopbackServer server(smtpScript(d));
    SmtpTransfer t = transferTo(server.port());
    t.account = "acc";
    t.password = "pw";
    EXPECT_EQ(SmtpSession(t, "joe@y.test"), c.login);
    ASSERT_TRUE(server.waitServed());
    EXPECT_EQ(hasCommand(d, "MAIL FROM:"), c.login);
    EXPECT_TRUE(hasCommand(d, "QUIT"));
  }
}

TEST(zebSmtp, FailingSteps) {
  struct Case {
    const char* name;
    std::string greeting;
    std::vector<std::string> rcpt;
    bool quit;
  } cases[] = {
      {"no recipient accepted", "220 ok\r\n", {"550 no\r\n", "551 no\r\n"}, true},
      {"greeting refused", "554 go away\r\n", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Dialogue d;
    d.greeting = c.greeting;
    d.rcptReplies = c.rcpt;
    LoopbackServer server(smtpScript(d));
    SmtpTransfer t = transferTo(server.port());
    EXPECT_FALSE(SmtpSession(t, "a@x.test,b@x.test"));
    ASSERT_TRUE(server.waitServed());
    EXPECT_EQ(hasCommand(d, "QUIT"), c.quit);
    EXPECT_FALSE(hasCommand(d, "DATA"));
  }
}

// Without a configured server the recipient's mail server is looked up.
TEST(zebSmtp, ServerModeLooksUpTheRecipient) {
  Dialogue d;
  LoopbackServer server(smtpScript(d));
  SmtpTransfer t = transferTo(server.port());
  t.server.clear();
  std::string asked;
  t.findMailServer = [&](const std::string& address) {
    asked = address;
    return std::string("127.0.0.1");
  };
  NullSendProgress progress;
  t.progress = &progress;
  const int areas = AddMailProgressAreas(true, t, progress);
  EXPECT_EQ(areas, 12);
  EXPECT_TRUE(SmtpSession(t, "joe@y.test"));
  EXPECT_EQ(asked, "joe@y.test");
  // The session finishes exactly the areas it added.
  EXPECT_EQ(progress.CurrentArea(), areas);
}

TEST(zebSmtp, AttachmentsGoOutAsBase64Parts) {
  testsupport::TempDir dir;
  std::string report;
  for (int i = 0; i < 1000; ++i) report += char(i % 251);
  testsupport::writeFileText(dir / "bugreport.txt", report);
  testsupport::writeFileText(dir / "SHOT.PNG", "png");
  testsupport::writeFileText(dir / "empty.txt", "");
  Dialogue d;
  LoopbackServer server(smtpScript(d));
  SmtpTransfer t = transferTo(server.port());
  t.attachments.Add((dir / "bugreport.txt").string(), "bugreport.txt", "BugReport");
  t.attachments.Add((dir / "SHOT.PNG").string(), "screenshot.png", "ScreenShot");
  t.attachments.Add((dir / "empty.txt").string(), "empty.txt", "Empty");
  NullSendProgress progress;
  t.progress = &progress;
  const int areas = AddMailProgressAreas(false, t, progress);
  EXPECT_EQ(areas, 13);
  EXPECT_TRUE(SmtpSession(t, "joe@y.test"));
  EXPECT_EQ(progress.CurrentArea(), areas);
  ASSERT_TRUE(server.waitServed());
  const std::string& m = d.message;
  EXPECT_NE(m.find("Content-Type: multipart/mixed; boundary=\"" + std::string(kMultipartBoundary) + "\""),
            std::string::npos);
  EXPECT_NE(m.find("Content-Type: image/png; name=\"screenshot.png\""), std::string::npos);
  EXPECT_EQ(m.find("empty.txt"), std::string::npos);
  // The report's base64 lines, 76 characters each but the last.
  std::string encoded;
  for (std::size_t i = 0; i < report.size(); i += 57)
    encoded += Base64EncodeText(std::string_view(report).substr(i, 57)) + "\r\n";
  EXPECT_NE(m.find("filename=\"bugreport.txt\"\r\n\r\n" + encoded + "--"), std::string::npos);
  EXPECT_NE(m.find("--" + std::string(kMultipartBoundary) + "--\r\n"), std::string::npos);
}

TEST(zebSmtp, NobodyListening) {
  int port;
  {
    LoopbackServer closed([](LoopbackServer::Connection&) {}, 0);
    port = closed.port();
  }
  SmtpTransfer t = transferTo(port);
  EXPECT_FALSE(SmtpSession(t, "joe@y.test"));
  t.server.clear();
  t.findMailServer = [](const std::string&) { return std::string(); };
  EXPECT_FALSE(SmtpSession(t, "joe@y.test"));
}

// A real server: aiosmtpd with AUTH LOGIN over plain text takes one mail.
TEST(zebSmtp, AiosmtpdReceivesTheMail) {
  if (!crashtest::havePythonModule("aiosmtpd")) GTEST_SKIP() << "python3-aiosmtpd is not installed";
  testsupport::TempDir dir;
  const std::string script = R"(
import sys, os, time, socket, email, email.policy
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword
out = sys.argv[1]
class Handler:
    async def handle_DATA(self, server, session, envelope):
        with open(os.path.join(out, 'raw'), 'wb') as f:
            f.write(envelope.content)
        msg = email.message_from_bytes(envelope.content, policy=email.policy.default)
        for part in msg.iter_attachments():
            with open(os.path.join(out, 'att.' + part.get_filename()), 'wb') as f:
                f.write(part.get_payload(decode=True))
        with open(os.path.join(out, 'rcpt'), 'w') as f:
            f.write(envelope.mail_from + '\n' + '\n'.join(envelope.rcpt_tos))
        return '250 OK'
def auth(server, session, envelope, mechanism, data):
    return AuthResult(success=isinstance(data, LoginPassword) and data.login == b'acc' and data.password == b'pw')
s = socket.socket(); s.bind(('127.0.0.1', 0)); port = s.getsockname()[1]; s.close()
c = Controller(Handler(), hostname='127.0.0.1', port=port, authenticator=auth, auth_required=True,
               auth_require_tls=False)
c.start()
print(port, flush=True)
# Serves until the test says its session is over: stopping once the mail is
# in would race the reply to QUIT.
end = time.time() + 60
while not os.path.exists(os.path.join(out, 'over')) and time.time() < end:
    time.sleep(0.05)
c.stop()
)";
  testsupport::writeFileText(dir / "server.py", script);
  const std::filesystem::path out = dir / "out";
  std::filesystem::create_directory(out);
  FILE* child = ::popen((crashtest::python3() + " " + testsupport::shellQuote((dir / "server.py").string()) + " " +
                         testsupport::shellQuote(out.string()) + " 2>/dev/null")
                            .c_str(),
                        "r");
  ASSERT_NE(child, nullptr);
  char line[64] = {};
  ASSERT_NE(std::fgets(line, sizeof line, child), nullptr);

  std::string report = "date/time : now\r\n.\r\n";
  for (int i = 0; i < 600; ++i) report += char(i * 13);
  testsupport::writeFileText(dir / "bugreport.txt", report);
  SmtpTransfer t = transferTo(std::atoi(line));
  t.account = "acc";
  t.password = "pw";
  t.body = "first\r\n.x\r\n.\r\nlast";
  t.attachments.Add((dir / "bugreport.txt").string(), "bugreport.txt", "BugReport");
  const bool sent = SmtpSession(t, "joe@y.test");
  testsupport::writeFileText(out / "over", "");
  ::pclose(child);
  EXPECT_TRUE(sent);
  const std::string raw = testsupport::readFileText(out / "raw");
  EXPECT_NE(raw.find("Subject: =?ISO-8859-1?Q?bug=20report?=\r\n"), std::string::npos) << raw;
  EXPECT_NE(raw.find("\r\n\r\nfirst\r\n.x\r\n.\r\nlast\r\n"), std::string::npos) << raw;
  EXPECT_TRUE(testsupport::readFileText(out / "att.bugreport.txt") == report);
  EXPECT_EQ(testsupport::readFileText(out / "rcpt"), "crash@x.test\njoe@y.test");
}
