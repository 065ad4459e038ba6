#pragma once
// The common part of the log reader targets: the input read twice, straight from memory and
// through a descriptor with a tiny buffer so that refills and buffer growth fall on every
// position, and both readings required to agree.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/text/text_codec.h"
#include "traffic/log_byte_source.h"

namespace fuzzing {

inline void check(bool ok) {
  if (!ok) std::abort();
}

// `readAll(std::unique_ptr<LogByteSource>, text::NarrowCodec)` renders one whole reading as
// text. The first input byte picks the code page and the buffer size; the rest is the file.
template <typename ReadAll>
int readTwice(const uint8_t* data, size_t size, ReadAll readAll) {
  if (size == 0) return 0;
  const text::NarrowCodec codec(data[0] & 0x80 ? "ISO-8859-1" : "UTF-8");
  const size_t bufferSize = 1 + (data[0] & 0x3F);
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::wstring fromMemory = readAll(std::make_unique<LogByteSource>(bytes), codec);

  int fd = ::memfd_create("log", MFD_CLOEXEC);
  if (fd < 0) return 0;
  check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  check(::lseek(fd, 0, SEEK_SET) == 0);
  const std::wstring fromFile = readAll(std::make_unique<LogByteSource>(fd, L"memfd", bufferSize), codec);
  check(fromMemory == fromFile);
  return 0;
}

}  // namespace fuzzing
