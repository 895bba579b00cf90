#include "crashreport/zebSmtp.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>

#include "crashreport/zebCrypt.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebMail.h"
#include "crashreport/zebSmtpLookup.h"
#include "crashreport/zebStrings.h"

namespace zeb {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// One connection to a mail server and the replies read from it. Data that
// arrives after a reply's last line stays for the next reply.
class SmtpConnection {
public:
  explicit SmtpConnection(int timeoutSeconds) : timeout_(timeoutSeconds) {}
  ~SmtpConnection() { Close(); }
  SmtpConnection(const SmtpConnection&) = delete;
  SmtpConnection& operator=(const SmtpConnection&) = delete;

  // Tries each address of the host in turn, each for at most the time-out.
  bool Open(const std::string& host, int port) {
    if (host.empty()) return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) return false;
    for (addrinfo* a = list; a && fd_ < 0; a = a->ai_next) {
      const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
      if (fd < 0) continue;
      bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
      if (!connected && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        connected = ::poll(&p, 1, timeout_ * 1000) == 1 &&
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
      }
      if (!connected) {
        ::close(fd);
        continue;
      }
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      // A server that stops reading must not hold a send for ever.
      timeval limit{timeout_, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      fd_ = fd;
    }
    freeaddrinfo(list);
    return fd_ >= 0;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool SendText(std::string_view text) {
    while (!text.empty()) {
      const ssize_t n = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      text.remove_prefix(std::size_t(n));
    }
    return true;
  }

  // Reads one reply to its last line, however the lines are split into
  // packets; every line must carry the expected code. With `loginOffered`, an
  // "AUTH" line (written with a blank or "=") that names LOGIN sets it.
  bool ReadReply(std::string_view code, bool* loginOffered) {
    while (true) {
      std::size_t eol;
      while ((eol = buffer_.find(kCrLf)) == std::string::npos) {
        if (buffer_.size() > 64 * 1024 || !receive()) return false;
      }
      std::string line = buffer_.substr(0, eol);
      buffer_.erase(0, eol + 2);
      if (line.size() < code.size() || !line.starts_with(code)) return false;
      for (char& c : line)
        if (c == '=') c = ' ';
      if (loginOffered && !*loginOffered && line.size() > 4 &&
          StartsWithIgnoringCase("AUTH ", std::string_view(line).substr(4))) {
        const std::string rest = line.substr(4) + " ";
        *loginOffered = FindTextIgnoringCase(" LOGIN ", rest, 1, rest.size()) != 0;
      }
      if (line.size() <= 3 || line[3] != '-') return true;
    }
  }

  // The command (when not empty) with its CR LF, then the reply.
  bool Command(std::string_view command, std::string_view code, bool* loginOffered = nullptr) {
    if (!command.empty() && !SendText(std::string(command) + std::string(kCrLf))) return false;
    return ReadReply(code, loginOffered);
  }

private:
  bool receive() {
    pollfd p{fd_, POLLIN, 0};
    int r;
    while ((r = ::poll(&p, 1, timeout_ * 1000)) < 0 && errno == EINTR) {
    }
    if (r <= 0) return false;
    char data[1024];
    const ssize_t n = ::recv(fd_, data, sizeof data, 0);
    if (n <= 0) return false;
    buffer_.append(data, std::size_t(n));
    return true;
  }

  int timeout_;
  int fd_ = -1;
  std::string buffer_;
};

bool endsWithPng(std::string_view path) {
  return path.size() >= 4 && SameTextIgnoringCase(path.substr(path.size() - 4), ".png");
}

// One attachment as a base64 MIME part in lines of 76 characters. A file of
// 0 bytes sends nothing and finishes no area.
bool sendMimeFilePart(SmtpConnection& connection, const std::string& path, const std::string& sendAs,
                      SendProgress& progress) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::uint64_t size = AttachmentFileSize(path);
  if (size == 0) return true;
  const std::string type = endsWithPng(path) ? "image/png" : "application/octet-stream";
  std::string out = "--" + std::string(kMultipartBoundary) + std::string(kCrLf) + "Content-Type: " + type +
                    "; name=\"" + sendAs + "\"" + std::string(kCrLf) + "Content-Transfer-Encoding: base64" +
                    std::string(kCrLf) + "Content-Disposition: attachment; filename=\"" + sendAs + "\"" +
                    std::string(kCrLf) + std::string(kCrLf);
  bool ok = true;
  std::uint64_t read = 0;
  std::uint8_t piece[57];
  while (ok && read < size) {
    const std::size_t want = std::size_t(std::min<std::uint64_t>(sizeof piece, size - read));
    in.read(reinterpret_cast<char*>(piece), std::streamsize(want));
    if (std::size_t(in.gcount()) != want) {
      out += kCrLf;
      ok = false;
      break;
    }
    read += want;
    out += Base64Encode(std::span<const std::uint8_t>(piece, want)) + std::string(kCrLf);
    if (out.size() >= 64 * 1024 || read == size) {
      ok = connection.SendText(out);
      out.clear();
      progress.SetPosition(int(read * 1000 / size));
    }
  }
  if (!ok && !out.empty()) connection.SendText(out);
  progress.AreaDone();
  return ok;
}

}  // namespace

std::string MailDateText(std::time_t time) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t{};
  gmtime_r(&time, &t);
  auto two = [](int v) { return DecimalTextPadded(v, 2, '0'); };
  return DecimalText(t.tm_mday) + " " + kMonths[t.tm_mon % 12] + " " + DecimalTextPadded(t.tm_year + 1900, 4, '0') +
         " " + two(t.tm_hour) + ":" + two(t.tm_min) + ":" + two(t.tm_sec) + " UT";
}

std::string NewMessageId() {
  // 100 ns units from 1601 to 1970.
  constexpr std::uint64_t kEpochDifference = 116444736000000000ull;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const std::uint64_t units =
      kEpochDifference + std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100);
  std::string hex = HexText(units);
  return "<" + PadText(hex, 16, '0') + "@zebExcept>";
}

std::string EncodedSubject(std::string_view subject, bool utf8) {
  if (utf8) return "=?UTF-8?B?" + Base64EncodeText(subject) + "?=";
  CharSet set;
  set.set();
  for (const std::string_view range : {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz", "0123456789"})
    for (const char c : range) set.reset(static_cast<unsigned char>(c));
  return "=?ISO-8859-1?Q?" + HexEscape(subject, set, '=') + "?=";
}

std::string TransparentBody(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 32);
  bool lineStart = true;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '\r' || c == '\n') {
      out += kCrLf;
      if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = false;
  }
  return out;
}

int AddMailProgressAreas(bool withLookup, const SmtpTransfer& transfer, SendProgress& progress) {
  int added = 11;
  if (withLookup) {
    progress.AddArea(500, transfer.texts.lookup);
    ++added;
  }
  progress.AddArea(100, transfer.texts.connecting);
  progress.AddArea(100, "");
  progress.AddArea(200, "");
  progress.AddArea(200, transfer.texts.auth);
  progress.AddArea(100, transfer.texts.sendMail);
  for (int i = 0; i < 4; ++i) progress.AddArea(100, "");
  for (const std::string& file : transfer.attachments.files) {
    const std::uint64_t size = AttachmentFileSize(file);
    if (size == 0) continue;
    progress.AddArea(std::int64_t((size + 56) / 57 * 3), transfer.texts.attachment);
    ++added;
  }
  progress.AddArea(500, transfer.texts.final);
  progress.AddArea(100, "");
  return added;
}

bool SmtpSession(SmtpTransfer& transfer, const std::string& recipients) {
  NullSendProgress noProgress;
  SendProgress& progress = transfer.progress ? *transfer.progress : noProgress;

  std::string server = transfer.server;
  if (server.empty()) {
    server = transfer.findMailServer ? transfer.findMailServer(recipients) : FindMailServer(recipients);
    progress.AreaDone();
  }
  SmtpConnection connection(transfer.replyTimeout);
  progress.AreaDone();
  if (!connection.Open(server, transfer.port)) return false;
  progress.AreaDone();
  if (!connection.ReadReply("220", nullptr)) return false;
  const std::string helo = transfer.heloName.empty() ? ComputerName() : transfer.heloName;
  bool loginOffered = false;
  if (!connection.Command("EHLO " + helo, "250", &loginOffered) && !connection.Command("HELO " + helo, "250"))
    return false;
  progress.AreaDone();

  bool result = false;
  auto quit = [&] {
    result = connection.Command("QUIT", "221") && result;
    progress.AreaDone();
    connection.Close();
    return result;
  };

  const std::string sender = transfer.sender.empty() ? recipients : transfer.sender;
  if (!transfer.account.empty() || !transfer.password.empty()) {
    if (!loginOffered || !connection.Command("AUTH LOGIN", "334") ||
        !connection.Command(Base64EncodeText(transfer.account), "334") ||
        !connection.Command(Base64EncodeText(transfer.password), "235"))
      return quit();
  }
  progress.AreaDone();

  const std::string envelope =
      transfer.envelopeSender.empty() ? AngleMailAddress(sender, false) : transfer.envelopeSender;
  if (!connection.Command("MAIL FROM:" + envelope, "250")) return quit();
  progress.AreaDone();

  std::string list = recipients;
  const int count = CountMailAddresses(list);
  bool accepted = false;
  for (int i = 1; i <= count; ++i)
    if (connection.Command("RCPT TO:" + AngleMailAddress(ListItem(list, std::size_t(i), ','), false), "250"))
      accepted = true;
  progress.AreaDone();
  if (!accepted) return quit();

  if (transfer.subject.empty() && transfer.body.empty()) {
    result = connection.Command("RSET", "250");
    return quit();
  }
  if (!connection.Command("DATA", "354")) return quit();
  progress.AreaDone();

  // Each recipient in its own brackets: one pair around the whole list would
  // make it one malformed address.
  std::string to;
  for (int i = 1; i <= count; ++i)
    to += (i > 1 ? ", " : "") + AngleMailAddress(ListItem(list, std::size_t(i), ','), true);
  const std::string body = TransparentBody(transfer.body);
  const std::string head = "To: " + to + std::string(kCrLf) + "From: " + AngleMailAddress(sender, true) +
                           std::string(kCrLf) + "Subject: " + EncodedSubject(transfer.subject, transfer.subjectUtf8) +
                           std::string(kCrLf) + "Date: " + MailDateText(std::time(nullptr)) + std::string(kCrLf) +
                           "Message-ID: " + NewMessageId() + std::string(kCrLf);
  result = connection.SendText(head);
  if (result) {
    progress.AreaDone();
    bool haveFiles = false;
    for (const std::string& file : transfer.attachments.files)
      if (AttachmentFileSize(file) > 0) haveFiles = true;
    if (haveFiles) {
      const std::string boundary(kMultipartBoundary);
      result = connection.SendText("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + boundary +
                                   "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + boundary +
                                   "\r\nContent-Type: text/plain; charset=\"iso-8859-1\"\r\n"
                                   "Content-Transfer-Encoding: 8bit\r\n\r\n" +
                                   body + std::string(kCrLf));
      progress.AreaDone();
      for (std::size_t i = 0; result && i < transfer.attachments.Count(); ++i) {
        const std::string& file = transfer.attachments.files[i];
        if (::access(file.c_str(), F_OK) != 0) continue;
        const std::string sendAs = i < transfer.attachments.sendAs.size() ? transfer.attachments.sendAs[i] : "";
        result = sendMimeFilePart(connection, file, sendAs, progress);
      }
      if (result) result = connection.SendText("--" + boundary + "--" + std::string(kCrLf));
    } else {
      result = connection.SendText(std::string(kCrLf) + body);
      progress.AreaDone();
    }
  }
  // The end of data; the command's own CR LF completes the line with the dot.
  result = connection.Command("\r\n.", "250") && result;
  progress.AreaDone();
  return quit();
}

}  // namespace zeb
