// Drives the mail provider's settings parser over arbitrary INI text: it either refuses the
// text with std::runtime_error or gives settings within their bounds.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "provider_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const postfix::ProviderSettings s = postfix::parseSettings(text, "fuzz.ini");
    if (!s.localZone && (s.zoneOffsetSeconds < -24 * 3600 || s.zoneOffsetSeconds > 24 * 3600)) std::abort();
    if (s.fixedYear < 0) std::abort();
  } catch (const std::runtime_error&) {
  }
  return 0;
}
