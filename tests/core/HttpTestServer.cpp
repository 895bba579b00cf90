#include "tests/core/HttpTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testsupport {

namespace {

int boundSocket(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    throw std::runtime_error("bind");
  }
  port = ntohs(addr.sin_port);
  return fd;
}

// The request head, read within a bound of seconds; empty when none came.
std::string readHead(int fd) {
  std::string head;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    head.append(buf, static_cast<std::size_t>(n));
    // Not a request line (a TLS hello, say): there is no head to wait for.
    if (head[0] < 'A' || head[0] > 'Z') break;
  }
  return head;
}

}  // namespace

HttpTestServer::HttpTestServer(Script script) : script_(std::move(script)) {
  listener_ = boundSocket(port_);
  if (::listen(listener_, 16) != 0) throw std::runtime_error("listen");
  thread_ = std::thread([this] { run(); });
}

HttpTestServer::~HttpTestServer() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

std::string HttpTestServer::base() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> HttpTestServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void HttpTestServer::run() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string head = readHead(fd);
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(head);
    }
    script_(fd, head);
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
  }
}

bool HttpTestServer::sendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string HttpTestServer::answer(int status, const std::string& body, const std::string& headers) {
  return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

int closedPort() {
  int port = 0;
  int fd = boundSocket(port);
  ::close(fd);
  return port;
}

}  // namespace testsupport
