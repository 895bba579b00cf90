#include "crashreport/zebCrashUiProtocol.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <random>

using namespace zeb;

namespace {

struct SocketPair {
  int fd[2] = {-1, -1};
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd), 0); }
  ~SocketPair() {
    for (int f : fd)
      if (f >= 0) ::close(f);
  }
  void Close(int k) {
    ::close(fd[k]);
    fd[k] = -1;
  }
};

}  // namespace

TEST(zebCrashUiProtocol, FactsAndReportsCrossTheSocket) {
  CrashUiFacts facts;
  facts.kind = 1;
  facts.canContinue = false;
  facts.message = "Access violation at address $0 in module 'crashprobe'.";
  facts.showSetting = 2;
  facts.settings.Set("ExceptMsg", "line one\r\nline two");
  facts.settings.SetBool("UglyBtns", true);
  SocketPair s;
  ASSERT_TRUE(SendCrashUiMessage(s.fd[0], FactsMessage(facts, true, false)));

  CrashUiReport report;
  report.header = {{"exception message", "boom"}};
  report.sections = {{"main thread ($1)", ">> will be completed"}, {"modules", "m"}};
  ASSERT_TRUE(SendCrashUiMessage(s.fd[0], ReportMessage(report, nullptr)));
  CrashUiReport later = report;
  later.sections[0].second = "0000000000401000 crashprobe";
  later.sections.push_back({"disassembling", "d"});
  later.complete = true;
  const CrashUiMessage change = ReportMessage(later, &report);
  EXPECT_FALSE(change.Has("S1:modules"));  // unchanged sections stay behind
  ASSERT_TRUE(SendCrashUiMessage(s.fd[0], change));

  CrashUiDecoder decoder;
  CrashUiMessage m;
  ASSERT_EQ(ReceiveCrashUiMessage(s.fd[1], decoder, m, 10000), CrashUiRead::Message);
  bool closeDue = false, restartDue = true;
  const CrashUiFacts got = FactsFromMessage(m, &closeDue, &restartDue);
  EXPECT_EQ(got.kind, 1);
  EXPECT_FALSE(got.canContinue);
  EXPECT_EQ(got.message, facts.message);
  EXPECT_EQ(got.showSetting, 2);
  EXPECT_EQ(got.settings.Text("ExceptMsg"), "line one\r\nline two");
  EXPECT_TRUE(got.settings.Bool("UglyBtns"));
  EXPECT_TRUE(closeDue);
  EXPECT_FALSE(restartDue);

  CrashUiReport merged;
  ASSERT_EQ(ReceiveCrashUiMessage(s.fd[1], decoder, m, 10000), CrashUiRead::Message);
  ApplyReportMessage(m, merged);
  EXPECT_EQ(merged.sections, report.sections);
  ASSERT_EQ(ReceiveCrashUiMessage(s.fd[1], decoder, m, 10000), CrashUiRead::Message);
  ApplyReportMessage(m, merged);
  EXPECT_EQ(merged.sections, later.sections);
  EXPECT_EQ(merged.header, later.header);
  EXPECT_TRUE(merged.complete);
}

TEST(zebCrashUiProtocol, ADeadPeerEndsTheConversation) {
  SocketPair s;
  CrashUiMessage m;
  m.type = kUiAction;
  m.AddInt("code", 8);
  auto frame = EncodeCrashUiMessage(m);
  // Half a frame, then the writer dies.
  ASSERT_EQ(::write(s.fd[0], frame.data(), frame.size() / 2), ssize_t(frame.size() / 2));
  s.Close(0);
  CrashUiDecoder decoder;
  EXPECT_EQ(ReceiveCrashUiMessage(s.fd[1], decoder, m, 10000), CrashUiRead::Closed);
  // Writing to a dead reader fails without a signal.
  SocketPair t;
  t.Close(1);
  EXPECT_FALSE(SendCrashUiMessage(t.fd[0], m));
  // Nothing there yet: a time-out.
  SocketPair u;
  CrashUiDecoder quiet;
  EXPECT_EQ(ReceiveCrashUiMessage(u.fd[1], quiet, m, 20), CrashUiRead::Timeout);
}

TEST(zebCrashUiProtocol, BrokenFramesAreRefused) {
  CrashUiMessage m;
  m.type = kUiProgress;
  m.Add("op", "position");
  m.AddInt("value", 500);
  const auto frame = EncodeCrashUiMessage(m);
  {
    // Byte by byte, the same message.
    CrashUiDecoder d;
    CrashUiMessage out;
    for (std::size_t k = 0; k + 1 < frame.size(); ++k) {
      d.Feed({&frame[k], 1});
      EXPECT_FALSE(d.Next(out));
    }
    d.Feed({&frame.back(), 1});
    ASSERT_TRUE(d.Next(out));
    EXPECT_EQ(out.GetInt("value"), 500);
  }
  {
    // A field length past the frame.
    auto bad = frame;
    bad[9] = 0xFF;
    CrashUiDecoder d;
    CrashUiMessage out;
    d.Feed(bad);
    EXPECT_FALSE(d.Next(out));
    EXPECT_TRUE(d.Broken());
  }
  {
    // A frame over the cap is refused before anything is buffered for it.
    std::vector<std::uint8_t> huge{0xFF, 0xFF, 0xFF, 0x7F, 1};
    CrashUiDecoder d;
    CrashUiMessage out;
    d.Feed(huge);
    EXPECT_FALSE(d.Next(out));
    EXPECT_TRUE(d.Broken());
  }
  // Random bytes never crash the decoder.
  std::mt19937 random(53);
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint8_t> bytes(random() % 64);
    for (auto& b : bytes) b = std::uint8_t(random());
    if (bytes.size() >= 4) bytes[3] = 0;
    CrashUiDecoder d;
    CrashUiMessage out;
    d.Feed(bytes);
    while (d.Next(out)) {
    }
  }
}
