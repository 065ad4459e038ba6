// Requests arrive from any local process: whatever the bytes, the service answers with a
// reply the client can decode, and no request changes anything but [passwords].
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cadrosrv/cadrosrv_requests.h"
#include "platform/service/vserializer.h"

namespace {

const char* kConfig =
    "; comment\n"
    "[settings]\n"
    "PRODUCT_ROOT_D = /opt/cadro\n"
    "A = 1\n"
    "[passwords]\n"
    "pwd = secret\n"
    "[components]\n"
    "perl = /usr\n";

std::string settingsPart(const std::string& text) { return text.substr(0, text.find("[passwords]")); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cadrosrv::MemoryStore store(kConfig);
  const std::string before = settingsPart(store.text());
  std::string input(reinterpret_cast<const char*>(data), size);

  // The input may hold several requests, each as the server takes them off a connection.
  size_t pos = 0;
  do {
    std::string request = input.substr(pos);
    if (request.size() >= 4) {
      uint32_t n = static_cast<unsigned char>(request[0]) | (static_cast<unsigned char>(request[1]) << 8) |
                   (static_cast<unsigned char>(request[2]) << 16) |
                   (static_cast<uint32_t>(static_cast<unsigned char>(request[3])) << 24);
      if (n <= request.size() - 4) {
        request = request.substr(4, n);
        pos += 4 + n;
      } else {
        pos = input.size();
      }
    } else {
      pos = input.size();
    }

    std::string reply = cadrosrv::handleRequest(request, store);
    if (!reply.empty()) {
      try {
        vserializer::reader(reply).readString();
      } catch (const vserializer::invalidprotocol&) {
        std::abort();  // the service wrote something its client cannot read
      } catch (const vexception&) {
        // an error reply
      }
    }
    if (settingsPart(store.text()) != before) std::abort();
  } while (pos < input.size());
  return 0;
}
