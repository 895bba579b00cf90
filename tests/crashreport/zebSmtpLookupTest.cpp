// The mail-server lookup: queries, answers (hostile ones included) and an MX
// query against a dnsmasq on 127.0.0.1.

#include "crashreport/zebSmtpLookup.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/Waiting.h"

extern char** environ;

using namespace zeb;
using Bytes = std::vector<std::uint8_t>;

namespace {

// An answer to the MX query for "example.test" whose one record's exchange
// name is `exchange` (raw bytes, compression pointers allowed).
Bytes mxAnswer(const Bytes& exchange, std::uint16_t type = 15) {
  Bytes m = BuildDnsQuery("example.test", kDnsTypeMx);
  m[2] = 0x81, m[3] = 0x80;  // an answer, recursion available, no error
  m[7] = 1;                  // one answer record
  const Bytes record = {0xC0, 0x0C, std::uint8_t(type >> 8), std::uint8_t(type), 0, 1, 0, 0, 0, 60};
  m.insert(m.end(), record.begin(), record.end());
  const std::size_t length = 2 + exchange.size();
  m.push_back(std::uint8_t(length >> 8));
  m.push_back(std::uint8_t(length));
  m.push_back(0);
  m.push_back(10);
  m.insert(m.end(), exchange.begin(), exchange.end());
  return m;
}

// A free UDP port on 127.0.0.1 at the moment of asking.
int freeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace

TEST(zebSmtpLookup, QueryBytes) {
  const Bytes q = BuildDnsQuery("mx.example.test", kDnsTypeMx);
  const Bytes expected = {0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 2, 'm', 'x', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e',
                          4, 't', 'e', 's', 't', 0, 0, 15, 0, 1};
  EXPECT_EQ(q, expected);
  EXPECT_EQ(BuildDnsQuery("example.test.", kDnsTypeNs).size(), 12u + 14 + 4);
  for (const std::string& bad : {std::string(), std::string("a..b"), std::string(64, 'x') + ".test",
                                std::string(130, 'a').replace(1, 127, std::string(127, '.'))}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(BuildDnsQuery(bad, kDnsTypeMx).empty());
  }
}

TEST(zebSmtpLookup, DomainsAndResolvConf) {
  EXPECT_EQ(MailDomain("Joe <joe@mail.example.test>"), "mail.example.test");
  EXPECT_EQ(MailDomain("example.test"), "example.test");
  EXPECT_EQ(ShortDomain("a.b.mail.example.test"), "mail.example.test");
  EXPECT_EQ(ShortDomain("example.test"), "example.test");
  const std::vector<std::string> servers = {"10.0.0.1", "192.168.1.1"};
  EXPECT_EQ(ConfiguredDnsServers("# nameserver 1.1.1.1\nsearch lan\nnameserver 10.0.0.1\n"
                                 "nameserver\t192.168.1.1  # home\noptions ndots:1\n"),
            servers);
}

TEST(zebSmtpLookup, AnswersAreReadSafely) {
  const Bytes name = {2, 'm', 'x', 0xC0, 0x0C};  // "mx" + the question's name
  EXPECT_EQ(ParseDnsAnswer(mxAnswer(name), kDnsTypeMx).answers, std::vector<std::string>{"mx.example.test"});

  struct Case {
    const char* name;
    Bytes message;
  } cases[] = {
      {"pointer to itself", [] {
         Bytes m = mxAnswer({});
         const std::size_t at = m.size();
         m.push_back(std::uint8_t(0xC0 | (at >> 8)));
         m.push_back(std::uint8_t(at));
         m[at - 3] += 2;  // the record's data length
         return m;
       }()},
      {"two pointers in a ring", [] {
         Bytes m = mxAnswer({});
         const std::size_t at = m.size();
         m.insert(m.end(), {1, 'a', std::uint8_t(0xC0 | ((at + 4) >> 8)), std::uint8_t(at + 4), 1, 'b',
                            std::uint8_t(0xC0 | (at >> 8)), std::uint8_t(at)});
         m[at - 3] += 8;
         return m;
       }()},
      {"pointer past the end", mxAnswer({0xC0, 0xFF})},
      {"label past the end", mxAnswer({40, 'x'})},
      {"error answer", [] {
         Bytes m = mxAnswer(Bytes{2, 'm', 'x', 0xC0, 0x0C});
         m[3] |= 3;
         return m;
       }()},
      {"other record type", mxAnswer(Bytes{2, 'm', 'x', 0xC0, 0x0C}, 5)},
      {"cut short", [] {
         Bytes m = mxAnswer(Bytes{2, 'm', 'x', 0xC0, 0x0C});
         m.resize(m.size() - 4);
         return m;
       }()},
      {"header only", Bytes(12, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(ParseDnsAnswer(c.message, kDnsTypeMx).answers.empty());
  }
}

// The real exchange: dnsmasq answers the MX query with its configured host.
TEST(zebSmtpLookup, FindMailServerAsksTheConfiguredServer) {
  const char* dnsmasq = "/usr/sbin/dnsmasq";
  if (::access(dnsmasq, X_OK) != 0) GTEST_SKIP() << "dnsmasq is not installed (dnsmasq-base)";
  const int port = freeUdpPort();
  std::vector<std::string> argv = {dnsmasq, "-k", "--port=" + std::to_string(port), "--listen-address=127.0.0.1",
                                    "--bind-interfaces", "--no-resolv", "--no-hosts", "--conf-file=/dev/null",
                                    "--pid-file=", "--log-facility=/dev/null",
                                    "--mx-host=example.test,mx.example.test,10",
                                    "--mx-host=corp.example.test,mx2.example.test,10"};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, dnsmasq, nullptr, nullptr, args.data(), environ), 0);
  struct Stop {
    pid_t pid;
    ~Stop() {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  } stop{pid};

  DnsConfig config;
  config.servers = {"127.0.0.1"};
  config.port = port;
  config.timeoutSeconds = 1;
  std::string found;
  // dnsmasq answers once it has started.
  testsupport::waitUntil([&] { return !(found = FindMailServer("a@example.test", config)).empty(); },
                         std::chrono::seconds(30));
  EXPECT_EQ(found, "mx.example.test");
  // The short domain is asked when the full one has no MX record.
  EXPECT_EQ(FindMailServer("Joe <joe@dept.site.corp.example.test>", config), "mx2.example.test");
}
