#include "crashreport/zebMail.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace zeb {

int CountMailAddresses(std::string& recipients) {
  for (char& c : recipients)
    if (c == ';') c = ',';
  NormaliseList(recipients, ',');
  return int(ListCount(recipients, ','));
}

std::string AngleMailAddress(std::string_view text, bool keepNames) {
  const std::size_t lt = text.find('<');
  if (lt == std::string_view::npos) return "<" + std::string(text) + ">";
  return std::string(keepNames ? text : text.substr(lt));
}

void SplitMailAddress(std::string_view entry, std::string& name, std::string& address) {
  const std::size_t lt = entry.find('<');
  if (lt == std::string_view::npos) {
    name = address = std::string(entry);
    return;
  }
  name = std::string(entry.substr(0, lt));
  const std::string_view rest = entry.substr(lt + 1);
  address = std::string(rest.substr(0, rest.find('>')));
}

std::string HexEscape(std::string_view text, const CharSet& set, char escape) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (set.test(b)) {
      out += escape;
      out += kDigits[b >> 4];
      out += kDigits[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

const CharSet& MailtoEscapeSet() {
  static const auto& set = *new CharSet(MakeCharSet("\n\r \"#%&+<>?"));
  return set;
}

std::string MailtoUrl(std::string recipients, std::string_view subject, std::string_view body) {
  CountMailAddresses(recipients);
  std::string url = "mailto:" + recipients + "?subject=" + HexEscape(subject, MailtoEscapeSet(), '%') +
                    "&body=" + HexEscape(body, MailtoEscapeSet(), '%');
  // A long report would make the command line too long for the handler; the
  // cut never leaves half an escape behind.
  constexpr std::size_t kLimit = 32766;
  if (url.size() > kLimit) {
    std::size_t keep = kLimit;
    if (url[kLimit - 1] == '%') keep = kLimit - 1;
    else if (url[kLimit - 2] == '%') keep = kLimit - 2;
    url.resize(keep);
  }
  return url;
}

bool StartProgram(const std::vector<std::string>& argv, int* exitCode) {
  if (argv.empty() || argv[0].empty()) return false;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
  if (!exitCode) {
    // The desktop's handlers may run as long as the browser or mail program
    // they start; nobody waits for them, but they must not stay zombies.
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
    return true;
  }
  int status = 0;
  pid_t r;
  while ((r = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  *exitCode = r == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

int SendMailByMapi(const std::string& recipients, const std::string& subject, const std::string& body,
                   const std::vector<std::string>& filePaths) {
  std::vector<std::string> argv = {"xdg-email", "--subject", subject, "--body", body};
  for (const std::string& file : filePaths) {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    argv.push_back("--attach");
    argv.push_back(file);
  }
  std::string list = recipients;
  const int count = CountMailAddresses(list);
  for (int i = 1; i <= count; ++i) {
    std::string name, address;
    SplitMailAddress(ListItem(list, std::size_t(i), ','), name, address);
    // A recipient that looks like an option would be taken as one.
    if (!address.empty() && address[0] != '-') argv.push_back(address);
  }
  int status = -1;
  return StartProgram(argv, &status) && status == 0 ? 1 : 0;
}

bool SendMailByMailto(const std::string& recipients, const std::string& subject, const std::string& body) {
  return StartProgram({"xdg-open", MailtoUrl(recipients, subject, body)});
}

}  // namespace zeb
