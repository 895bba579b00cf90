#pragma once

// Finding a recipient's mail server: an MX query over UDP to the DNS servers
// of /etc/resolv.conf (or, with none, a walk down from the root servers).
// Answers are read with the C library's message parser, which checks every
// length and refuses compression loops, so a hostile answer yields no name
// rather than a hang or a read past the packet.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

inline constexpr int kDnsTypeNs = 2;
inline constexpr int kDnsTypeMx = 15;

struct DnsConfig {
  std::vector<std::string> servers;  // dotted IPv4 addresses or host names
  int port = 53;
  int timeoutSeconds = 5;  // per answer
};

// The "nameserver" entries of a resolv.conf text, in order.
std::vector<std::string> ConfiguredDnsServers(std::string_view resolvConf);
// Those of /etc/resolv.conf.
std::vector<std::string> ConfiguredDnsServers();

// A query for one name: identifier 1, recursion desired, class IN. Empty when
// the name cannot be written (a label longer than 63 bytes, an empty label,
// more than 255 bytes in all).
std::vector<std::uint8_t> BuildDnsQuery(std::string_view name, int type);

struct DnsAnswer {
  std::vector<std::string> answers;    // the names the records of `type` point to
  std::vector<std::string> authority;  // NS names of the authority section (type NS only)
};

// Reads an answer to a query of `type`; nothing for an error answer or a
// malformed one. Records of other types are passed over.
DnsAnswer ParseDnsAnswer(std::span<const std::uint8_t> message, int type);

// Sends the query to every server and takes the first answer that names
// something; empty lists when none does within the time-out.
DnsAnswer QueryDns(std::string_view name, const std::vector<std::string>& servers, int type, int port = 53,
                   int timeoutSeconds = 5);

// The domain of an address: after its first "@", without a trailing ">".
std::string MailDomain(std::string_view address);
// At most the last three labels of a domain.
std::string ShortDomain(std::string_view domain);

// The host name of the first MX record of the address's domain (or of its
// short form); empty when none is found.
std::string FindMailServer(std::string_view address, const DnsConfig& config);
std::string FindMailServer(std::string_view address);

}  // namespace zeb
