// The HTTP upload: the multipart body, the request's head lines, the answers
// it accepts, its proxy and its time-out, against servers on 127.0.0.1 (one
// of ours scripted per test, and python's http.server as a second opinion on
// the body).

#include "crashreport/zebHttp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/zebCrypt.h"
#include "tests/crashreport/FakeTools.h"
#include "tests/crashreport/LoopbackServer.h"
#include "tests/crashreport/PythonCheck.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using namespace zeb;
using crashtest::LoopbackServer;

namespace {

const std::string B(kMultipartBoundary);

// No proxy from the environment reaches the loopback servers.
class NoProxy {
public:
  testsupport::ScopedEnv httpProxy{"http_proxy", ""};
  testsupport::ScopedEnv httpProxyUpper{"HTTP_PROXY", ""};
  testsupport::ScopedEnv noProxy{"no_proxy", "*"};
};

// A server that reads one request and answers with `answer`.
std::unique_ptr<LoopbackServer> answeringServer(std::string answer) {
  return std::make_unique<LoopbackServer>([answer](LoopbackServer::Connection& c) {
    if (c.readHttpRequest()) c.send(answer);
    c.waitForClose();
  });
}

struct Request {
  std::string requestLine;
  std::vector<std::string> headLines;
  std::string body;
};

Request parseRequest(const std::string& text) {
  Request r;
  const std::size_t end = text.find("\r\n\r\n");
  if (end == std::string::npos) return r;
  std::size_t p = 0;
  bool first = true;
  while (p < end) {
    std::size_t eol = text.find("\r\n", p);
    if (eol > end) eol = end;
    (first ? r.requestLine : r.headLines.emplace_back()) = text.substr(p, eol - p);
    first = false;
    p = eol + 2;
  }
  r.body = text.substr(end + 4);
  return r;
}

HttpUploadParams paramsFor(int port) {
  HttpUploadParams p;
  p.url = "http://127.0.0.1/submit.php";
  p.port = port;
  return p;
}

const char* kOk = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

}  // namespace

TEST(zebHttp, BodyOfFieldsAndFileIsExact) {
  const std::string report(1000, 'r');
  const std::string body = MultipartBody({{"MailSubject", "bug report"}}, {{"bugreport.txt", "BugReport", report}});
  const std::string expected = "--" + B + "\r\nContent-Disposition: form-data; name=\"MailSubject\"\r\n\r\nbug report" +
                               "\r\n--" + B +
                               "\r\nContent-Disposition: form-data; name=\"BugReport\"; filename=\"bugreport.txt\"\r\n"
                               "Content-Type: application/octet-stream\r\n\r\n" +
                               report + "\r\n--" + B + "--\r\n";
  EXPECT_EQ(body, expected);
  // The part head of a file is 135 bytes besides its two names.
  EXPECT_EQ(FilePartHead("", "").size(), 135u);
  EXPECT_EQ(MultipartBody({}, {}), "--" + B + "--\r\n");
  EXPECT_EQ(MultipartBody({}, {}).size(), 39u);
  // An empty file has no part.
  EXPECT_EQ(MultipartBody({}, {{"empty.txt", "Empty", ""}}), MultipartBody({}, {}));
}

TEST(zebHttp, StripUrlSchemeKeepsHostOrHttpProxy) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"http://bugs.example.invalid/submit.php", "bugs.example.invalid/submit.php"},
      {"bugs.example/x", "bugs.example/x"},
      {"ftp=f:21 HTTP=proxy.lan:3128 https=s:443", "proxy.lan:3128"},
      {"http://proxy:8080", "proxy:8080"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string text = c.in;
    StripUrlScheme(text);
    EXPECT_EQ(text, c.out);
  }
}

// What the server receives: the head lines as the upload writes them, a
// Content-Length equal to the body's bytes, and every file byte for byte.
TEST(zebHttp, UploadSendsExactHeadAndLength) {
  NoProxy noProxy;
  testsupport::TempDir dir;
  std::string report;
  for (int i = 0; i < 3000; ++i) report += char(i * 7);
  const std::string shot = "\x89PNG\r\n\x1a\n binary \0 data" + std::string(5000, '\xff');
  testsupport::writeFileText(dir / "bugreport.txt", report);
  testsupport::writeFileText(dir / "screenShot.png", shot);
  testsupport::writeFileText(dir / "empty.txt", "");

  AttachmentLists files;
  files.Add((dir / "bugreport.txt").string(), "bugreport.txt", "BugReport");
  files.Add((dir / "empty.txt").string(), "empty.txt", "Empty");
  files.Add((dir / "missing.txt").string(), "missing.txt", "Missing");
  files.Add((dir / "screenShot.png").string(), "screenshot.png", "ScreenShot");
  const FormFields fields = {{"MailSubject", "bug report"}, {"MailFrom", "Joe <joe@x.de>"}};

  struct Case {
    const char* name;
    bool withFields;
    bool withFiles;
  } cases[] = {{"both", true, true}, {"fields only", true, false}, {"files only", false, true}, {"neither", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto server = answeringServer(kOk);
    HttpUploadParams params = paramsFor(server->port());
    const FormFields f = c.withFields ? fields : FormFields{};
    const AttachmentLists a = c.withFiles ? files : AttachmentLists{};
    NullSendProgress progress;
    EXPECT_TRUE(UploadByHttp(params, f, a, progress));
    ASSERT_TRUE(server->waitServed());
    const Request r = parseRequest(server->transcript());
    EXPECT_EQ(r.requestLine, "POST /submit.php HTTP/1.1");
    std::vector<MultipartFile> parts;
    if (c.withFiles) parts = {{"bugreport.txt", "BugReport", report}, {"screenshot.png", "ScreenShot", shot}};
    const std::string expectedBody = MultipartBody(f, parts);
    const std::vector<std::string> expectedHead = {
        "Host: 127.0.0.1:" + std::to_string(server->port()),
        "Connection: close",
        "Pragma: no-cache",
        "User-Agent: zebExcept/3.0",
        "Content-Type: multipart/form-data; boundary=" + B,
        "Content-Length: " + std::to_string(expectedBody.size()),
    };
    EXPECT_EQ(testsupport::joinedLines(r.headLines), testsupport::joinedLines(expectedHead));
    EXPECT_EQ(r.body.size(), expectedBody.size());
    EXPECT_TRUE(r.body == expectedBody);
    if (!c.withFields && !c.withFiles) {
      EXPECT_EQ(r.body.size(), 39u);
    }
  }
}

TEST(zebHttp, SenderAndAccountLines) {
  NoProxy noProxy;
  struct Case {
    const char* sender;
    const char* account;
    const char* password;
    std::vector<std::string> extra;
  } cases[] = {
      {"", "", "", {}},
      {"Joe <joe@x.de>", "", "", {"From: <joe@x.de>"}},
      {"", "acc", "", {"Authorization: Basic " + Base64EncodeText("acc:")}},
      {"j@x.de", "acc", "pw", {"From: <j@x.de>", "Authorization: Basic " + Base64EncodeText("acc:pw")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sender) + "/" + c.account + "/" + c.password);
    auto server = answeringServer(kOk);
    HttpUploadParams params = paramsFor(server->port());
    params.sender = c.sender;
    params.account = c.account;
    params.password = c.password;
    NullSendProgress progress;
    EXPECT_TRUE(UploadByHttp(params, {}, {}, progress));
    ASSERT_TRUE(server->waitServed());
    const Request r = parseRequest(server->transcript());
    ASSERT_GE(r.headLines.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(r.headLines.begin() + 6, r.headLines.end()), c.extra);
  }
}

TEST(zebHttp, AnswersDecideTheResult) {
  NoProxy noProxy;
  crashtest::FakeTools tools;
  tools.add("xdg-open");
  struct Case {
    const char* name;
    std::string answer;
    bool result;
    const char* opened;  // what xdg-open gets, or null
  } cases[] = {
      {"200", kOk, true, nullptr},
      {"100 then 200 in one read", "HTTP/1.1 100 Continue\r\n\r\n" + std::string(kOk), true, nullptr},
      {"500", "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n", false, nullptr},
      {"302 without location", "HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n", false, nullptr},
      {"302 to a file", "HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n", false,
       nullptr},
      {"302 lower case", "HTTP/1.1 302 Found\r\nlocation: https://bugs.example/thanks?id=7\r\nContent-Length: 0\r\n\r\n",
       true, "https://bugs.example/thanks?id=7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto server = answeringServer(c.answer);
    NullSendProgress progress;
    EXPECT_EQ(UploadByHttp(paramsFor(server->port()), {{"MailSubject", "x"}}, {}, progress), c.result);
    if (c.opened) {
      const std::vector<std::string> args = tools.args("xdg-open", true);
      EXPECT_EQ(args, std::vector<std::string>{c.opened});
    } else {
      EXPECT_FALSE(tools.ran("xdg-open"));
    }
  }
}

// A 100 status line alone is not the answer: the next packet is.
TEST(zebHttp, ContinueLineAloneWaitsForTheAnswer) {
  NoProxy noProxy;
  for (const char* final : {kOk, "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"}) {
    SCOPED_TRACE(final);
    LoopbackServer server([final](LoopbackServer::Connection& c) {
      if (!c.readHttpRequest()) return;
      c.send("HTTP/1.1 100 Continue\r\n\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      c.send(final);
      c.waitForClose();
    });
    NullSendProgress progress;
    EXPECT_EQ(UploadByHttp(paramsFor(server.port()), {}, {}, progress), final == kOk);
  }
}

TEST(zebHttp, SilentServerFailsAfterTheTimeOut) {
  NoProxy noProxy;
  LoopbackServer server([](LoopbackServer::Connection& c) {
    c.readHttpRequest();
    c.stayQuiet();
  });
  HttpUploadParams params = paramsFor(server.port());
  params.answerTimeout = 1;
  NullSendProgress progress;
  EXPECT_FALSE(UploadByHttp(params, {}, {}, progress));
}

TEST(zebHttp, UnusableTargetsFail) {
  NoProxy noProxy;
  NullSendProgress progress;
  for (const char* url : {"http://bugs.brantwell.invalid/submit.php", "http://127.0.0.1", "", "ftp://127.0.0.1/x"}) {
    SCOPED_TRACE(url);
    HttpUploadParams params;
    params.url = url;
    EXPECT_FALSE(UploadByHttp(params, {}, {}, progress));
  }
  // Nobody listens on the port.
  int port;
  {
    LoopbackServer closed([](LoopbackServer::Connection&) {}, 0);
    port = closed.port();
  }
  EXPECT_FALSE(UploadByHttp(paramsFor(port), {}, {}, progress));
}

TEST(zebHttp, ProxyGetsTheAbsoluteForm) {
  auto proxy = answeringServer(kOk);
  testsupport::ScopedEnv httpProxy("http_proxy", "http://127.0.0.1:" + std::to_string(proxy->port()));
  testsupport::ScopedEnv noProxy("no_proxy", "");
  testsupport::ScopedEnv noProxyUpper("NO_PROXY", "");
  HttpUploadParams params;
  params.url = "http://bugs.endpoint.example/submit.php";
  params.port = 8080;
  NullSendProgress progress;
  EXPECT_TRUE(UploadByHttp(params, {}, {}, progress));
  ASSERT_TRUE(proxy->waitServed());
  const Request r = parseRequest(proxy->transcript());
  EXPECT_EQ(r.requestLine, "POST http://bugs.endpoint.example:8080/submit.php HTTP/1.1");
  ASSERT_FALSE(r.headLines.empty());
  EXPECT_EQ(r.headLines[0], "Host: bugs.endpoint.example:8080");
}

// The progress goes through every area the upload adds, in order.
TEST(zebHttp, ProgressFinishesEveryArea) {
  NoProxy noProxy;
  testsupport::TempDir dir;
  testsupport::writeFileText(dir / "a.bin", std::string(200000, 'a'));
  AttachmentLists files;
  files.Add((dir / "a.bin").string(), "a.bin", "A");
  auto server = answeringServer(kOk);
  NullSendProgress progress;
  progress.AddArea(1000, "Prepare attachments...");
  EXPECT_TRUE(UploadByHttp(paramsFor(server->port()), {{"f", "v"}}, files, progress));
  // Preparation, connecting, connected, fields, the file, closing, answer.
  EXPECT_EQ(progress.CurrentArea(), 7);
}

// python's own multipart reader finds the fields and the files byte for byte.
TEST(zebHttp, PythonHttpServerReadsTheParts) {
  if (!crashtest::havePythonModule("http.server")) GTEST_SKIP() << "python3 is not available";
  NoProxy noProxy;
  testsupport::TempDir dir;
  const std::string script = R"(
import sys, os, http.server, email.parser, email.policy
out = sys.argv[1]
class H(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers['Content-Length']))
        with open(os.path.join(out, 'head'), 'w') as f:
            f.write(self.requestline + '\n' + ''.join(k + ': ' + v + '\n' for k, v in self.headers.items()))
        msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
            b'Content-Type: ' + self.headers['Content-Type'].encode() + b'\r\n\r\n' + body)
        for part in msg.iter_parts():
            name = part.get_param('name', header='content-disposition')
            with open(os.path.join(out, 'part.' + name), 'wb') as f:
                f.write(part.get_payload(decode=True))
        self.send_response(200)
        self.send_header('Content-Length', '0')
        self.end_headers()
    def log_message(self, *a):
        pass
s = http.server.HTTPServer(('127.0.0.1', 0), H)
s.timeout = 60
print(s.server_address[1], flush=True)
s.handle_request()
)";
  testsupport::writeFileText(dir / "server.py", script);
  const std::filesystem::path out = dir / "out";
  std::filesystem::create_directory(out);
  FILE* child = ::popen((crashtest::python3() + " " + testsupport::shellQuote((dir / "server.py").string()) + " " +
                         testsupport::shellQuote(out.string()))
                            .c_str(),
                        "r");
  ASSERT_NE(child, nullptr);
  char line[64] = {};
  ASSERT_NE(std::fgets(line, sizeof line, child), nullptr);
  const int port = std::atoi(line);

  std::string report = "date/time : now\r\n";
  for (int i = 0; i < 256; ++i) report += char(i);
  const std::string shot = "\x89PNG\r\n\x1a\n" + std::string(3000, '\0');
  testsupport::writeFileText(dir / "bugreport.txt", report);
  testsupport::writeFileText(dir / "screenShot.png", shot);
  AttachmentLists files;
  files.Add((dir / "bugreport.txt").string(), "bugreport.txt", "BugReport");
  files.Add((dir / "screenShot.png").string(), "screenshot.png", "ScreenShot");
  NullSendProgress progress;
  EXPECT_TRUE(UploadByHttp(paramsFor(port), {{"MailSubject", "bug report"}}, files, progress));
  ::pclose(child);
  EXPECT_EQ(testsupport::readFileText(out / "part.MailSubject"), "bug report");
  EXPECT_TRUE(testsupport::readFileText(out / "part.BugReport") == report);
  EXPECT_TRUE(testsupport::readFileText(out / "part.ScreenShot") == shot);
  EXPECT_NE(testsupport::readFileText(out / "head").find("POST /submit.php HTTP/1.1\nHost: 127.0.0.1:"), std::string::npos);
}
