#include "platform/service/cadrosrv_protocol.h"

#include "platform/system/system_root.h"

namespace cadrosrv {

std::string defaultSocketPath() { return sysroot::path(kSocketRelativePath); }

std::string frameHeader(uint32_t size) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(size >> (8 * i));
  return out;
}

uint32_t parseFrameHeader(const char* header) {
  const auto* u = reinterpret_cast<const unsigned char*>(header);
  return static_cast<uint32_t>(u[0]) | (static_cast<uint32_t>(u[1]) << 8) | (static_cast<uint32_t>(u[2]) << 16) |
         (static_cast<uint32_t>(u[3]) << 24);
}

}  // namespace cadrosrv
