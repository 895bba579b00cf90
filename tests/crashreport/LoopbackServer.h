#pragma once

// A TCP server on 127.0.0.1 that the delivery tests talk to: it accepts
// connections on a thread and hands each to the test's script. Every wait is
// bounded (testsupport::kPatience) and ends when the server is destroyed, so
// a failing test never hangs.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/Waiting.h"

namespace crashtest {

class LoopbackServer {
public:
  class Connection {
  public:
    Connection(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}
    // Waits for data; false on time-out, end of stream or the server's end.
    bool readMore() {
      const auto limit = std::chrono::steady_clock::now() + testsupport::kPatience;
      while (!stop_ && std::chrono::steady_clock::now() < limit) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, 50);
        if (r < 0) return false;
        if (r == 0) continue;
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        received.append(buffer, std::size_t(n));
        return true;
      }
      return false;
    }
    // The next line up to CR LF (not included); false when none came.
    bool readLine(std::string& line) {
      std::size_t eol;
      while ((eol = received.find("\r\n", consumed)) == std::string::npos)
        if (!readMore()) return false;
      line = received.substr(consumed, eol - consumed);
      consumed = eol + 2;
      return true;
    }
    // Reads until `text` has arrived after what was consumed; consumes through it.
    bool readUntil(std::string_view text) {
      std::size_t at;
      while ((at = received.find(text, consumed)) == std::string::npos)
        if (!readMore()) return false;
      consumed = at + text.size();
      return true;
    }
    // An HTTP request: its head and as many body bytes as Content-Length says.
    bool readHttpRequest() {
      std::size_t end;
      while ((end = received.find("\r\n\r\n")) == std::string::npos)
        if (!readMore()) return false;
      std::size_t length = 0;
      const std::string head = received.substr(0, end);
      for (std::size_t p = 0; p < head.size();) {
        std::size_t eol = head.find("\r\n", p);
        if (eol == std::string::npos) eol = head.size();
        const std::string line = head.substr(p, eol - p);
        if (line.size() > 15 && strncasecmp(line.c_str(), "Content-Length:", 15) == 0)
          length = std::stoul(line.substr(15));
        p = eol + 2;
      }
      while (received.size() < end + 4 + length)
        if (!readMore()) return false;
      return true;
    }
    bool send(std::string_view text) {
      while (!text.empty()) {
        const ssize_t n = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        text.remove_prefix(std::size_t(n));
      }
      return true;
    }
    // Holds the connection open and silent until the server ends.
    void stayQuiet() {
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Waits until the client closes the connection (or the server ends).
    void waitForClose() {
      while (readMore()) {
      }
    }

    std::string received;
    std::size_t consumed = 0;

  private:
    int fd_;
    const std::atomic<bool>& stop_;
  };

  using Script = std::function<void(Connection&)>;

  explicit LoopbackServer(Script script, int connections = 1) : script_(std::move(script)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 8);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, connections] {
      for (int i = 0; i < connections && !stop_; ++i) {
        const auto limit = std::chrono::steady_clock::now() + testsupport::kPatience;
        int client = -1;
        while (!stop_ && client < 0 && std::chrono::steady_clock::now() < limit) {
          pollfd p{fd_, POLLIN, 0};
          if (::poll(&p, 1, 50) > 0) client = ::accept(fd_, nullptr, nullptr);
        }
        if (client < 0) break;
        Connection connection(client, stop_);
        script_(connection);
        {
          std::lock_guard lock(mutex_);
          transcripts_.push_back(connection.received);
        }
        ::close(client);
        ++served_;
      }
    });
  }
  ~LoopbackServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  // Waits until `count` connections have ended; false on time-out.
  bool waitServed(int count = 1) {
    return testsupport::waitUntil([&] { return served_.load() >= count; });
  }
  // What the client sent on connection `index`, once it has ended.
  std::string transcript(std::size_t index = 0) {
    std::lock_guard lock(mutex_);
    return index < transcripts_.size() ? transcripts_[index] : std::string();
  }

private:
  Script script_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> served_{0};
  std::mutex mutex_;
  std::vector<std::string> transcripts_;
  std::thread thread_;
};

}  // namespace crashtest
