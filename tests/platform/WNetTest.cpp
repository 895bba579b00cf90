#include <gtest/gtest.h>
#include <unistd.h>

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/WNet.h"

using namespace platform;

namespace {

std::string hostName() {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return host;
}

DWORD connect(const char* name) {
  NETRESOURCEA res;
  res.lpRemoteName = const_cast<char*>(name);
  return WNetAddConnection2A(&res, nullptr, nullptr, CONNECT_INTERACTIVE | CONNECT_PROMPT);
}

TEST(WNetAddConnection, OnlyThisMachineConnects) {
  const std::string host = hostName();
  const std::string shortHost = host.substr(0, host.find('.'));
  struct Case {
    std::string name;
    DWORD expected;
  };
  const Case cases[] = {
      {"", 0},
      {".", 0},
      {"\\\\.", 0},
      {"localhost", 0},
      {"\\\\LOCALHOST", 0},
      {host, 0},
      {"\\\\" + shortHost, 0},
      {"\\\\PC1", DWORD(ERROR_BAD_NETPATH)},
      {"PC1", DWORD(ERROR_BAD_NETPATH)},
      {"\\\\" + shortHost + "x", DWORD(ERROR_BAD_NETPATH)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(connect(c.name.c_str()), c.expected);
  }
  NETRESOURCEA none;
  EXPECT_EQ(WNetAddConnection2A(&none, nullptr, nullptr, 0), 0u);
  EXPECT_EQ(WNetAddConnection2A(nullptr, nullptr, nullptr, 0), DWORD(ERROR_INVALID_PARAMETER));
}

}  // namespace
