// Texts that come back from the database server or its settings: version strings and
// numbers. The version order is consistent for any pair of texts, and the numbers agree
// with the C library's reading clamped to their width.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <limits>
#include <string>
#include <string_view>

#include "db/mysql_provider.h"
#include "db/text_number.h"
#include "platform/text/text_codec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

namespace {

template <typename T>
T referenceNumber(const std::wstring& text) {
  long long value = std::wcstoll(text.c_str(), nullptr, 10);
  if (value > std::numeric_limits<T>::max()) return std::numeric_limits<T>::max();
  if (value < std::numeric_limits<T>::min()) return std::numeric_limits<T>::min();
  return static_cast<T>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  size_t split = bytes.find('\n');
  std::wstring first = text::fromUtf8(bytes.substr(0, split));
  std::wstring second = split == std::string_view::npos ? std::wstring(L"4.1") : text::fromUtf8(bytes.substr(split + 1));
  // Text after a NUL is invisible to the C-string readers on both sides.
  first = first.c_str();
  second = second.c_str();

  int forward = compareDottedVersions(first, second);
  if (forward < -1 || forward > 1) std::abort();
  if (compareDottedVersions(second, first) != -forward) std::abort();
  if (compareDottedVersions(first, first) != 0) std::abort();

  if (wcrt::wtol(first) != referenceNumber<int32_t>(first)) std::abort();
  if (wcrt::wtoi64(first) != referenceNumber<int64_t>(first)) std::abort();
  return 0;
}
