#pragma once

// What the network neighbourhood asks of the network: its workgroups and the
// computers announced in each, in the order they were found. The program's
// browser asks the local mDNS daemon; tests give a fake.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

struct NetworkWorkgroupEntry {
  std::string name;                    // the workgroup's display name
  std::vector<std::string> computers;  // the display names of its computers
};

// The network cannot be browsed (no daemon, lost connection, ...).
class NetworkBrowseError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class NetworkBrowser {
public:
  virtual ~NetworkBrowser() = default;
  // Every workgroup with its computers; throws NetworkBrowseError (or any
  // other exception) when the network cannot be browsed.
  virtual std::vector<NetworkWorkgroupEntry> browse() = 0;
};

// The mDNS browser: the browse domains are the workgroups; the host names
// (without ".local") announcing file sharing or a workstation are the
// computers. It waits for the daemon's "all for now", at most timeoutMs.
std::unique_ptr<NetworkBrowser> makeMdnsNetworkBrowser(int timeoutMs = 3000);

}  // namespace platform
