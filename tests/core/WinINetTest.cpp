// The HTTP download client against a scripted server on 127.0.0.1.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "core/bwlWinAPIWinINet.h"
#include "tests/core/HttpTestServer.h"
#include "tests/support/Waiting.h"

using testsupport::HttpTestServer;

namespace {

std::string requestLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

std::string headerValue(const std::string& head, const std::string& name) {
  std::size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "<none>";
  at += name.size() + 4;
  return head.substr(at, head.find("\r\n", at) - at);
}

// The answers by path.
void scripted(int fd, const std::string& head) {
  std::string line = requestLine(head);
  auto is = [&](const char* path) { return line.rfind(std::string("GET ") + path + " ", 0) == 0; };
  if (is("/missing")) {
    HttpTestServer::sendAll(fd, HttpTestServer::answer(404, "<html>gone</html>"));
  } else if (is("/broken")) {
    HttpTestServer::sendAll(fd, HttpTestServer::answer(500, "<html>error page</html>"));
  } else if (is("/empty")) {
    HttpTestServer::sendAll(fd, HttpTestServer::answer(200, ""));
  } else if (is("/moved")) {
    HttpTestServer::sendAll(fd, HttpTestServer::answer(302, "elsewhere", "Location: /lines\r\n"));
  } else if (is("/lines")) {
    HttpTestServer::sendAll(fd, HttpTestServer::answer(200, "CurrentVersion=1.10\r\nNotifyText=new\nlast\rend"));
  } else if (is("/cut")) {
    HttpTestServer::sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 8192\r\n\r\n" + std::string(100, 'x'));
  } else if (is("/silent")) {
    // closes without answering
  } else if (is("/unsized")) {
    HttpTestServer::sendAll(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(10000, 'u'));
  } else {
    HttpTestServer::sendAll(fd, HttpTestServer::answer(200, "body of " + line));
  }
}

class WinINetTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The requests must reach the test server, never a proxy of the machine.
    ::setenv("no_proxy", "*", 1);
    ::setenv("NO_PROXY", "*", 1);
  }
  HttpTestServer server_{scripted};
};

}  // namespace

TEST(WinINetTarget, HostAndPortSplit) {
  struct Case {
    const char* host;
    const char* name;
    int port;
  } cases[] = {
      {"example.org", "example.org", 80},   {"example.org:8080", "example.org", 8080},
      {"example.org:http", "example.org", 80}, {"example.org:", "example.org", 80},
      {"example.org:80x", "example.org", 80}, {"example.org:70000", "example.org", 80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    TkxHttpTarget t = SplitHostPort(c.host);
    EXPECT_EQ(t.Host, c.name);
    EXPECT_EQ(t.Port, c.port);
  }
}

TEST_F(WinINetTest, UrlsRequestTheirPathFromTheirPort) {
  const std::string hostPort = "127.0.0.1:" + std::to_string(server_.port());
  struct Case {
    std::string url;
    std::string requestLine;
  } cases[] = {
      {"http://" + hostPort, "GET / HTTP/1.1"},
      {"http://" + hostPort + "/p?q=1", "GET /p?q=1 HTTP/1.1"},
      {"HTTP://" + hostPort + "/a/b.ini", "GET /a/b.ini HTTP/1.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    TkxInternetHTTP http;
    uni::TUniMemoryStream stream;
    ASSERT_TRUE(http.Get(c.url, stream)) << InternetErrorText(http.FLastError);
    EXPECT_EQ(http.FLastError, 0u);
    EXPECT_EQ(requestLine(server_.requests().back()), c.requestLine);
    EXPECT_EQ(stream.Bytes(), "body of " + c.requestLine);
    EXPECT_EQ(stream.Position(), 0);
  }
  TkxInternetHTTP http;
  uni::TUniMemoryStream stream;
  ASSERT_TRUE(http.GetFromHost(hostPort, "/from/host", stream));
  EXPECT_EQ(requestLine(server_.requests().back()), "GET /from/host HTTP/1.1");
}

TEST_F(WinINetTest, AnswersAndFailures) {
  struct Case {
    std::string url;
    bool ok;
    std::string body;       // what the stream holds afterwards
    std::string errorText;  // InternetErrorText of the last error
  } cases[] = {
      {"/lines", true, "CurrentVersion=1.10\r\nNotifyText=new\nlast\rend", "0: The operation completed successfully."},
      {"/moved", true, "CurrentVersion=1.10\r\nNotifyText=new\nlast\rend", "0: The operation completed successfully."},
      {"/empty", true, "", "0: The operation completed successfully."},
      {"/missing", false, "", "File not found on server!"},
      // An error page is no answer.
      {"/broken", false, "", "The server answered with status 500."},
      // Fewer bytes than announced, and no answer at all.
      {"/cut", false, std::string(100, 'x'), "12030: The connection with the server was terminated abnormally"},
      {"/silent", false, "", "12030: The connection with the server was terminated abnormally"},
      {"no-scheme/x", false, "", "1: Incorrect function."},
      {"http://nothing.invalid/x", false, "", "Could not find server!"},
      {"http://127.0.0.1:" + std::to_string(testsupport::closedPort()) + "/x", false, "",
       "Could not connect to server!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    std::string url = c.url[0] == '/' ? server_.base() + c.url : c.url;
    TkxInternetHTTP http;
    uni::TUniMemoryStream stream;
    EXPECT_EQ(http.Get(url, stream), c.ok);
    EXPECT_EQ(stream.Bytes(), c.body);
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(InternetErrorText(http.FLastError), c.errorText);
  }
}

TEST_F(WinINetTest, HttpsKeepsItsScheme) {
  // The test server speaks plain HTTP: a client that kept the scheme opens
  // with a TLS hello instead of a request and cannot read the answer.
  TkxInternetHTTP http;
  uni::TUniMemoryStream stream;
  EXPECT_FALSE(http.Get("https://127.0.0.1:" + std::to_string(server_.port()) + "/secret", stream));
  EXPECT_EQ(http.FLastError, ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
  ASSERT_FALSE(server_.requests().empty());
  EXPECT_EQ(server_.requests().back()[0], '\x16') << "a TLS handshake record";
  EXPECT_EQ(stream.Size(), 0);
}

TEST_F(WinINetTest, AFailedTransferRewindsTheStream) {
  TkxInternetHTTP http;
  uni::TUniMemoryStream stream(std::string("before"));
  stream.SetPosition(6);
  EXPECT_FALSE(http.Get(server_.base() + "/cut", stream));
  EXPECT_EQ(stream.Position(), 0);
}

TEST_F(WinINetTest, ProgressPercentFollowsTheAnnouncedLength) {
  // Without a length the percent stays 0.
  {
    TkxInternetHTTP http;
    std::vector<int> percents;
    http.OnProgress = [&](std::uint8_t p, std::int64_t, std::int64_t total) {
      percents.push_back(p);
      EXPECT_EQ(total, 0);
    };
    uni::TUniMemoryStream stream;
    ASSERT_TRUE(http.Get(server_.base() + "/unsized", stream));
    EXPECT_EQ(stream.Size(), 10000);
    ASSERT_FALSE(percents.empty());
    for (int p : percents) EXPECT_EQ(p, 0);
  }
  // With 8192 announced, the server holds back the second half until the
  // client has taken the first, so the event at 4096 bytes must come.
  std::atomic<bool> halfSeen{false};
  HttpTestServer halves([&](int fd, const std::string&) {
    HttpTestServer::sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 8192\r\n\r\n" + std::string(4096, 'a'));
    testsupport::waitUntil([&] { return halfSeen.load(); }, std::chrono::seconds(30));
    HttpTestServer::sendAll(fd, std::string(4096, 'b'));
  });
  TkxInternetHTTP http;
  std::vector<std::pair<std::int64_t, int>> events;
  http.OnProgress = [&](std::uint8_t p, std::int64_t done, std::int64_t total) {
    EXPECT_EQ(total, 8192);
    EXPECT_LE(done - (events.empty() ? 0 : events.back().first), 4096) << "no event covers more than a block";
    events.emplace_back(done, p);
    if (done == 4096) halfSeen = true;
  };
  uni::TUniMemoryStream stream;
  ASSERT_TRUE(http.Get(halves.base() + "/", stream));
  auto at = std::find_if(events.begin(), events.end(), [](const auto& e) { return e.first == 4096; });
  ASSERT_NE(at, events.end());
  EXPECT_EQ(at->second, 50);
  EXPECT_EQ(events.back(), std::make_pair(std::int64_t{8192}, 100));
}

TEST_F(WinINetTest, UserAgentIsTheNameWhenTheClientWasMade) {
  TkxInternetHTTP before;
  SetInternetAgentName("Probe Product");
  TkxInternetHTTP after;
  SetInternetAgentName("kxWinINet");
  uni::TUniMemoryStream stream;
  ASSERT_TRUE(before.Get(server_.base() + "/a", stream));
  EXPECT_EQ(headerValue(server_.requests().back(), "User-Agent"), "kxWinINet");
  ASSERT_TRUE(after.Get(server_.base() + "/b", stream));
  EXPECT_EQ(headerValue(server_.requests().back(), "User-Agent"), "Probe Product");
}

TEST_F(WinINetTest, StringsGetTheLinesOfTheAnswerWhateverTheSuccess) {
  std::vector<std::string> lines{"old"};
  std::uint32_t error = 99;
  ASSERT_TRUE(DownloadToStrings(server_.base() + "/lines", lines, error));
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(lines, (std::vector<std::string>{"CurrentVersion=1.10", "NotifyText=new", "last", "end"}));
  EXPECT_FALSE(DownloadToStrings(server_.base() + "/missing", lines, error));
  EXPECT_EQ(error, kInternetFileNotFound);
  EXPECT_TRUE(lines.empty());
}

TEST(WinINetErrorText, CodesAndTexts) {
  struct Case {
    std::uint32_t code;
    const char* text;
  } cases[] = {
      {18, "File not found on server!"},
      {12007, "Could not find server!"},
      {12029, "Could not connect to server!"},
      {2, "2: The system cannot find the file specified."},
      {kInternetHttpStatusBase + 503, "The server answered with status 503."},
      {12002, "12002: The operation timed out"},
      {987654, "Unknown error #987654"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(InternetErrorText(c.code), c.text);
  }
}
