// Replies come from whatever listens on the pipe: decoding any bytes ends in a value or a
// vexception, never in a crash or a read past the data.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/service/vserializer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the reads, as different commands read different replies.
  uint8_t plan = data[0];
  vserializer::reader r(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  r.startsWithError();
  for (int step = 0; step < 8 && !r.atEnd(); ++step) {
    try {
      switch ((plan >> (step % 4 * 2)) & 3) {
        case 0: r.readString(); break;
        case 1: r.readInt32(); break;
        case 2: r.readGuid(); break;
        default: r.readBlock(); break;
      }
    } catch (const vexception&) {
      break;
    }
  }
  return 0;
}
