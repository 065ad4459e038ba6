// Addresses read from log lines and stored values: any text parses to a whole number of
// octets, and what was read formats back to an address that reads the same.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "db/ip_address.h"
#include "platform/text/text_codec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring input = text::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  int bits = -1;
  const uint32_t address = parseIPAddress(input, &bits);
  if (bits < 0 || bits > 32 || bits % 8 != 0) std::abort();
  if (bits == 0 && address != 0) std::abort();
  // The octets not read are zero.
  if (bits < 32 && (address & (0xFFFFFFFFu >> bits)) != 0) std::abort();

  int roundTripBits = -1;
  const std::wstring formatted = formatIPAddress(address);
  if (parseIPAddress(formatted, &roundTripBits) != address || roundTripBits != 32) std::abort();
  return 0;
}
