// Date and time texts from log lines and registry values: parsing never fails except for
// the pattern, and every valid result survives the conversions and the registry form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/text/text_codec.h"
#include "platform/dates/vdatetime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const wchar_t* const kPatterns[] = {L"YMDhms", L"YMD", L"hms", L"DMY", L"YYMMDDhhmmss"};
  const wchar_t* pattern = kPatterns[data[0] % (sizeof kPatterns / sizeof kPatterns[0])];
  std::wstring text = text::fromUtf8(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  VDateTime t = VDateTime::parse(text, pattern);
  if (!t.isValid()) return 0;
  if (VDateTime::fromFileTime(t.toFileTime()) != t) std::abort();
  VDateTime back = VDateTime::parse(t.toRegistryText(), L"YMDhms");
  if (back != t) std::abort();
  return 0;
}
