// DNS answers from the network reach the mail-server lookup unchecked.
#include <cstddef>
#include <cstdint>
#include <span>

#include "crashreport/zebSmtpLookup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> message(data, size);
  (void)zeb::ParseDnsAnswer(message, zeb::kDnsTypeMx);
  (void)zeb::ParseDnsAnswer(message, zeb::kDnsTypeNs);
  return 0;
}
