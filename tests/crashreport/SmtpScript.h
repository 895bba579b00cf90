#pragma once

// A scripted mail server for the delivery tests: it answers each command line
// with the reply the test chose and keeps what the client sent.

#include <string>
#include <vector>

#include "crashreport/zebCrypt.h"
#include "tests/crashreport/LoopbackServer.h"

namespace crashtest {

// A server that answers each line the client sends with the reply the script
// gives for it, and reads the message after DATA up to its end.
struct Dialogue {
  std::string greeting = "220 mail.test ready\r\n";
  std::string ehlo = "250-mail.test\r\n250 OK\r\n";
  std::vector<std::string> rcptReplies;  // one per RCPT TO, in order; "250 OK" when used up
  std::string message;                   // what came after DATA
  std::vector<std::string> commands;     // what came but the message
};

inline LoopbackServer::Script smtpScript(Dialogue& d) {
  return [&d](LoopbackServer::Connection& c) {
    if (!c.send(d.greeting)) return;
    std::size_t rcpt = 0;
    std::string line;
    while (c.readLine(line)) {
      d.commands.push_back(line);
      std::string reply = "250 OK\r\n";
      if (line.starts_with("EHLO")) {
        reply = d.ehlo;
      } else if (line == "AUTH LOGIN" || line == zeb::Base64EncodeText("acc")) {
        reply = "334 go on\r\n";
      } else if (line == zeb::Base64EncodeText("pw")) {
        reply = "235 welcome\r\n";
      } else if (line.starts_with("RCPT TO:")) {
        reply = rcpt < d.rcptReplies.size() ? d.rcptReplies[rcpt] : "250 OK\r\n";
        ++rcpt;
      } else if (line == "DATA") {
        c.send("354 go ahead\r\n");
        const std::size_t start = c.consumed;
        if (!c.readUntil("\r\n.\r\n")) return;
        d.message = c.received.substr(start, c.consumed - start);
        reply = "250 queued\r\n";
      } else if (line == "QUIT") {
        c.send("221 bye\r\n");
        return;
      }
      if (!c.send(reply)) return;
    }
  };
}

}  // namespace crashtest
