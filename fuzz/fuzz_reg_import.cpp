// The .reg importer's parser: any bytes parse or fail with a line, and what parses is
// written back by the exporter and read again to the same values.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/registry/reg_file.h"

using namespace registry;
using Kind = RegFileChange::Kind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<RegFileChange> changes;
  RegFileError error;
  if (!parseRegFile(bytes, changes, error)) {
    if (error.line == 0 || !changes.empty()) __builtin_trap();
    return 0;
  }
  RegFileWriter writer;
  std::vector<Value> written;
  bool inKey = false;
  for (const RegFileChange& c : changes) {
    if (c.kind == Kind::CreateKey) {
      std::wstring name = L"HKEY_LOCAL_MACHINE";
      for (const std::wstring& part : c.key) name += L"\\" + part;
      inKey = writer.key(name);
    } else if (c.kind == Kind::SetValue && inKey) {
      writer.value(c.value);
      written.push_back(c.value);
    }
  }
  std::vector<RegFileChange> again;
  if (!parseRegFile(writer.text(), again, error)) __builtin_trap();
  size_t next = 0;
  for (const RegFileChange& c : again) {
    if (c.kind != Kind::SetValue) continue;
    if (next >= written.size()) __builtin_trap();
    const Value& v = written[next++];
    if (c.value.name != v.name || c.value.type != v.type || c.value.data != v.data) __builtin_trap();
  }
  if (next != written.size()) __builtin_trap();
  return 0;
}
