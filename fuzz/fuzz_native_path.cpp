// File names read from directories that users fill: every byte sequence must come back
// unchanged from its wide form, and masks match without running away.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/files/vfilename.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::wstring wide = VFileName::fromNative(bytes);
  if (VFileName::toNative(wide) != bytes) std::abort();
  size_t split = bytes.find('\n');
  if (split != std::string::npos)
    VFileName::matchesMask(VFileName::fromNative(bytes.substr(0, split)), VFileName::fromNative(bytes.substr(split + 1)));
  return 0;
}
