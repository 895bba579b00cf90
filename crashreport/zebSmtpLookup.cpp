#include "crashreport/zebSmtpLookup.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "crashreport/zebStrings.h"

namespace zeb {

namespace {

// Two of the root servers, asked when no DNS server is configured.
constexpr const char* kRootServers[] = {"a.root-servers.net", "b.root-servers.net"};

// The IPv4 address of a dotted text or of the first address a name lookup
// gives; false when there is none.
bool resolveIPv4(const std::string& text, in_addr& address) {
  if (inet_pton(AF_INET, text.c_str(), &address) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0 || !list) return false;
  address = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr;
  freeaddrinfo(list);
  return true;
}

struct Socket {
  int fd = -1;
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
};

void readSection(ns_msg& handle, ns_sect section, int type, std::vector<std::string>& names) {
  const int count = ns_msg_count(handle, section);
  for (int i = 0; i < count; ++i) {
    ns_rr rr{};
    if (ns_parserr(&handle, section, i, &rr) != 0) return;
    if (ns_rr_type(rr) != type || ns_rr_class(rr) != ns_c_in) continue;
    const unsigned char* data = ns_rr_rdata(rr);
    std::size_t skip = type == kDnsTypeMx ? 2 : 0;  // an MX record's preference
    if (ns_rr_rdlen(rr) <= skip) continue;
    char name[NS_MAXDNAME];
    if (dn_expand(ns_msg_base(handle), ns_msg_end(handle), data + skip, name, sizeof name) < 0) continue;
    if (name[0]) names.emplace_back(name);
  }
}

}  // namespace

std::vector<std::string> ConfiguredDnsServers(std::string_view resolvConf) {
  std::vector<std::string> servers;
  while (!resolvConf.empty()) {
    const std::size_t eol = resolvConf.find('\n');
    std::string line(resolvConf.substr(0, eol));
    resolvConf = eol == std::string_view::npos ? std::string_view() : resolvConf.substr(eol + 1);
    for (char& c : line)
      if (c == '\t') c = ' ';
    TrimBlanks(line);
    if (!line.starts_with("nameserver ")) continue;
    std::string server = TrimmedCopy(std::string_view(line).substr(11));
    const std::size_t blank = server.find(' ');
    if (blank != std::string::npos) server.resize(blank);
    if (!server.empty()) servers.push_back(server);
  }
  return servers;
}

std::vector<std::string> ConfiguredDnsServers() {
  std::ifstream in("/etc/resolv.conf");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ConfiguredDnsServers(text);
}

std::vector<std::uint8_t> BuildDnsQuery(std::string_view name, int type) {
  std::vector<std::uint8_t> query = {0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0};
  if (name.ends_with('.')) name.remove_suffix(1);
  if (name.empty()) return {};
  std::size_t written = 0;
  while (true) {
    const std::size_t dot = name.find('.');
    const std::string_view label = name.substr(0, dot);
    if (label.empty() || label.size() > 63) return {};
    query.push_back(std::uint8_t(label.size()));
    query.insert(query.end(), label.begin(), label.end());
    written += label.size() + 1;
    if (dot == std::string_view::npos) break;
    name.remove_prefix(dot + 1);
  }
  if (written + 1 > 255) return {};
  query.push_back(0);
  query.push_back(std::uint8_t(type >> 8));
  query.push_back(std::uint8_t(type));
  query.push_back(0);
  query.push_back(1);
  return query;
}

DnsAnswer ParseDnsAnswer(std::span<const std::uint8_t> message, int type) {
  DnsAnswer answer;
  if (message.size() < 12 || (message[3] & 0x0F) != 0) return answer;
  ns_msg handle{};
  if (ns_initparse(message.data(), int(message.size()), &handle) != 0) return answer;
  readSection(handle, ns_s_an, type, answer.answers);
  if (type == kDnsTypeNs) readSection(handle, ns_s_ns, kDnsTypeNs, answer.authority);
  return answer;
}

DnsAnswer QueryDns(std::string_view name, const std::vector<std::string>& servers, int type, int port,
                   int timeoutSeconds) {
  DnsAnswer answer;
  const std::vector<std::uint8_t> query = BuildDnsQuery(name, type);
  if (query.empty()) return answer;
  Socket s;
  s.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s.fd < 0) return answer;
  int sent = 0;
  for (const std::string& server : servers) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(std::uint16_t(port));
    if (!resolveIPv4(server, to.sin_addr)) continue;
    if (::sendto(s.fd, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
        ssize_t(query.size()))
      ++sent;
  }
  while (sent > 0) {
    pollfd p{s.fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutSeconds * 1000) <= 0) break;
    std::uint8_t buffer[4096];
    const ssize_t n = ::recv(s.fd, buffer, sizeof buffer, 0);
    if (n < 0) break;
    // Only an answer to this query counts.
    if (n >= 12 && buffer[0] == 0 && buffer[1] == 1 && (buffer[2] & 0x80)) {
      answer = ParseDnsAnswer(std::span<const std::uint8_t>(buffer, std::size_t(n)), type);
      if (!answer.answers.empty() || !answer.authority.empty()) break;
    }
    --sent;
  }
  return answer;
}

std::string MailDomain(std::string_view address) {
  const std::size_t at = address.find('@');
  if (at != std::string_view::npos) address.remove_prefix(at + 1);
  if (address.ends_with('>')) address.remove_suffix(1);
  return std::string(address);
}

std::string ShortDomain(std::string_view domain) {
  std::size_t dots = 0;
  for (std::size_t i = domain.size(); i-- > 0;)
    if (domain[i] == '.' && ++dots == 3) return std::string(domain.substr(i + 1));
  return std::string(domain);
}

std::string FindMailServer(std::string_view address, const DnsConfig& config) {
  const std::string domain = MailDomain(address);
  const std::string shortDomain = ShortDomain(domain);
  auto firstMx = [&](const std::vector<std::string>& servers) -> std::string {
    DnsAnswer a = QueryDns(domain, servers, kDnsTypeMx, config.port, config.timeoutSeconds);
    if (a.answers.empty() && shortDomain != domain)
      a = QueryDns(shortDomain, servers, kDnsTypeMx, config.port, config.timeoutSeconds);
    return a.answers.empty() ? std::string() : a.answers.front();
  };
  if (!config.servers.empty()) return firstMx(config.servers);

  // No configured server: down from the root to the domain's own servers.
  const std::vector<std::string> roots(std::begin(kRootServers), std::end(kRootServers));
  DnsAnswer walk = QueryDns(shortDomain, roots, kDnsTypeNs, config.port, config.timeoutSeconds);
  if (walk.answers.empty()) return {};
  walk = QueryDns(shortDomain, walk.answers, kDnsTypeNs, config.port, config.timeoutSeconds);
  for (int i = 0; i < 10 && walk.authority.empty() && !walk.answers.empty(); ++i)
    walk = QueryDns(shortDomain, walk.answers, kDnsTypeNs, config.port, config.timeoutSeconds);
  return firstMx(walk.authority.empty() ? walk.answers : walk.authority);
}

std::string FindMailServer(std::string_view address) {
  DnsConfig config;
  config.servers = ConfiguredDnsServers();
  return FindMailServer(address, config);
}

}  // namespace zeb
