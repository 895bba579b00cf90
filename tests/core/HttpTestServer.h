#pragma once

// A tiny HTTP server on 127.0.0.1 for the download client's tests: a thread
// accepts connections on a free port, reads each request's head and lets the
// test's script answer it on the socket.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class HttpTestServer {
public:
  // Writes the answer to `request` (its head, up to the blank line) on `fd`;
  // the connection is closed when it returns.
  using Script = std::function<void(int fd, const std::string& request)>;

  explicit HttpTestServer(Script script);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:PORT"
  std::string base() const;
  // The heads of the requests answered so far.
  std::vector<std::string> requests() const;

  // Writes all of `bytes` to `fd`; false when the peer went away.
  static bool sendAll(int fd, const std::string& bytes);
  // A status line, the given header lines and the body, with Content-Length.
  static std::string answer(int status, const std::string& body, const std::string& headers = "");

private:
  void run();

  Script script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on (bound for a moment, then let go).
int closedPort();

}  // namespace testsupport
