#include "platform/NetworkBrowser.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <algorithm>
#include <chrono>

namespace platform {
namespace {

// The service types a computer announces when it shares files or just is on
// the network.
constexpr const char* kComputerServiceTypes[] = {"_smb._tcp", "_workstation._tcp"};

struct BrowseState {
  AvahiClient* client = nullptr;
  std::vector<NetworkWorkgroupEntry> groups;
  std::vector<AvahiServiceBrowser*> browsers;
  std::vector<AvahiServiceResolver*> resolvers;
  AvahiDomainBrowser* domains = nullptr;
  int pending = 0;  // browsers and resolvers that have not answered yet
  bool failed = false;

  NetworkWorkgroupEntry* group(const std::string& domain) {
    for (auto& g : groups)
      if (g.name == domain) return &g;
    return nullptr;
  }
};

// "pc1.local" in the domain "local" is "pc1".
std::string hostWithoutDomain(std::string host, const std::string& domain) {
  if (!host.empty() && host.back() == '.') host.pop_back();
  const std::string suffix = "." + domain;
  if (host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0)
    host.resize(host.size() - suffix.size());
  return host;
}

void onResolved(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event, const char*,
                const char*, const char* domain, const char* hostName, const AvahiAddress*, uint16_t,
                AvahiStringList*, AvahiLookupResultFlags, void* userdata) {
  auto* st = static_cast<BrowseState*>(userdata);
  if (event == AVAHI_RESOLVER_FOUND && hostName && domain) {
    if (NetworkWorkgroupEntry* g = st->group(domain)) {
      const std::string name = hostWithoutDomain(hostName, domain);
      if (!name.empty() && std::find(g->computers.begin(), g->computers.end(), name) == g->computers.end())
        g->computers.push_back(name);
    }
  }
  --st->pending;
}

void onService(AvahiServiceBrowser*, AvahiIfIndex iface, AvahiProtocol protocol, AvahiBrowserEvent event,
               const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* userdata) {
  auto* st = static_cast<BrowseState*>(userdata);
  switch (event) {
    case AVAHI_BROWSER_NEW:
      if (AvahiServiceResolver* r = avahi_service_resolver_new(st->client, iface, protocol, name, type, domain,
                                                              AVAHI_PROTO_UNSPEC, AvahiLookupFlags(0),
                                                              onResolved, st)) {
        st->resolvers.push_back(r);
        ++st->pending;
      }
      break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_FAILURE:
      --st->pending;
      break;
    default:
      break;
  }
}

void browseDomain(BrowseState* st, const std::string& domain) {
  if (st->group(domain)) return;
  st->groups.push_back({domain, {}});
  for (const char* type : kComputerServiceTypes) {
    if (AvahiServiceBrowser* b = avahi_service_browser_new(st->client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type,
                                                          domain.c_str(), AvahiLookupFlags(0), onService, st)) {
      st->browsers.push_back(b);
      ++st->pending;
    }
  }
}

void onDomain(AvahiDomainBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event, const char* domain,
              AvahiLookupResultFlags, void* userdata) {
  auto* st = static_cast<BrowseState*>(userdata);
  switch (event) {
    case AVAHI_BROWSER_NEW:
      if (domain) browseDomain(st, domain);
      break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_FAILURE:
      --st->pending;
      break;
    default:
      break;
  }
}

void onClient(AvahiClient*, AvahiClientState state, void* userdata) {
  if (state == AVAHI_CLIENT_FAILURE) static_cast<BrowseState*>(userdata)->failed = true;
}

class MdnsNetworkBrowser : public NetworkBrowser {
public:
  explicit MdnsNetworkBrowser(int timeoutMs) : FTimeoutMs(timeoutMs) {}

  std::vector<NetworkWorkgroupEntry> browse() override {
    AvahiSimplePoll* poll = avahi_simple_poll_new();
    if (!poll) throw NetworkBrowseError("out of memory");
    BrowseState st;
    int error = 0;
    st.client = avahi_client_new(avahi_simple_poll_get(poll), AvahiClientFlags(0), onClient, &st, &error);
    if (!st.client) {
      avahi_simple_poll_free(poll);
      throw NetworkBrowseError(avahi_strerror(error));
    }
    // The default domain first; further browse domains follow as found.
    browseDomain(&st, avahi_client_get_domain_name(st.client));
    st.domains = avahi_domain_browser_new(st.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, nullptr,
                                          AVAHI_DOMAIN_BROWSER_BROWSE, AvahiLookupFlags(0), onDomain, &st);
    if (st.domains) ++st.pending;

    // Wait for every browser's "all for now" and every resolver, but no
    // longer than the time allowed: a silent network ends the search too.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FTimeoutMs);
    while (st.pending > 0 && !st.failed) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      if (avahi_simple_poll_iterate(poll, int(left)) != 0) break;
    }
    const bool failed = st.failed;
    std::string why = failed ? avahi_strerror(avahi_client_errno(st.client)) : "";
    for (auto* r : st.resolvers) avahi_service_resolver_free(r);
    for (auto* b : st.browsers) avahi_service_browser_free(b);
    if (st.domains) avahi_domain_browser_free(st.domains);
    avahi_client_free(st.client);
    avahi_simple_poll_free(poll);
    if (failed) throw NetworkBrowseError(why);
    return std::move(st.groups);
  }

private:
  int FTimeoutMs;
};

}  // namespace

std::unique_ptr<NetworkBrowser> makeMdnsNetworkBrowser(int timeoutMs) {
  return std::make_unique<MdnsNetworkBrowser>(timeoutMs);
}

}  // namespace platform
