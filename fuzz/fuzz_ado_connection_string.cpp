// OLE DB connection strings from configuration: parsing never fails other than with the
// format error, and what it reads writes back to the same pairs.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "db/ado/connection_string.h"
#include "db/ado/engine_error.h"
#include "db/ado/odbc_engine.h"
#include "platform/text/text_codec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = text::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  ado::ConnectionString parsed;
  try {
    parsed = ado::ConnectionString::parse(text);
  } catch (const ado::EngineError&) {
    return 0;
  }
  ado::ConnectionString again = ado::ConnectionString::parse(parsed.format());
  if (again.entries() != parsed.entries()) std::abort();
  for (const auto& [key, value] : parsed.entries()) {
    if (key.empty()) std::abort();
    if (parsed.get(key) != value) std::abort();
  }
  // The ODBC form is built from any pairs without failing.
  (void)ado::odbcConnectionString(parsed, L"login", L"password");
  return 0;
}
