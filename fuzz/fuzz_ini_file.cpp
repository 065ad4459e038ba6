// The service's configuration is edited by hand: any text parses, comes back byte for byte,
// and a stored password reads back as stored without disturbing the rest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cadrosrv/ini_file.h"
#include "platform/report/vexception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  cadrosrv::IniFile file = cadrosrv::IniFile::parse(text);
  if (file.text() != text) std::abort();
  std::optional<std::string> setting = file.get("settings", "PRODUCT_ROOT_D");

  // Name and value from the first line of the input, so that the fuzzer reaches the refusals.
  std::string first = text.substr(0, text.find('\n'));
  size_t eq = first.find('=');
  std::string name = eq == std::string::npos ? "pwd" : first.substr(0, eq);
  std::string value = eq == std::string::npos ? first : first.substr(eq + 1);
  try {
    file.set("passwords", name, value);
  } catch (const ArgumentException&) {
    if (file.text() != text) std::abort();
    return 0;
  }
  std::string changed = file.text();
  cadrosrv::IniFile again = cadrosrv::IniFile::parse(changed);
  if (again.get("passwords", name) != value) std::abort();
  if (again.get("settings", "PRODUCT_ROOT_D") != setting) std::abort();
  again.set("passwords", name, value);
  if (again.text() != changed) std::abort();
  return 0;
}
