// The registry key-file reader: any bytes parse or fail cleanly, and a key that parses
// survives being written anew and edited.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/registry/registry_key_file.h"
#include "platform/registry/registry_names.h"

using namespace registry;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::wstring name;
  KeyFile::parseName(text, name);
  KeyFile key;
  KeyFileError error;
  // A change reads only the structure; whatever passes it can be changed and stays readable
  // as far as structure goes.
  KeyFile structure;
  bool structureOk = KeyFile::parse(text, structure, error, KeyFile::Check::Structure);
  if (structureOk) {
    structure.set(Value{L"fuzz", REG_DWORD, std::string("\x01\x02\x03\x04", 4)});
    structure.remove(L"other");
    KeyFile again;
    if (!KeyFile::parse(structure.text(), again, error, KeyFile::Check::Structure)) __builtin_trap();
  }
  if (!KeyFile::parse(text, key, error)) return 0;
  if (!structureOk) __builtin_trap();

  std::vector<Value> values = key.values();
  KeyFile fresh(key.name());
  for (const Value& v : values) fresh.set(v);
  KeyFile reread;
  if (!KeyFile::parse(fresh.text(), reread, error) || reread.name() != key.name()) __builtin_trap();
  for (size_t i = 0; i < reread.valueCount(); ++i) {
    Value v = reread.value(i);
    // set() keeps the last data written under a name.
    const Value* last = nullptr;
    for (const Value& original : values)
      if (sameName(original.name, v.name)) last = &original;
    if (!last || last->type != v.type || last->data != v.data) __builtin_trap();
  }

  // Edits of the text as it came keep it readable.
  if (!values.empty()) {
    key.set(Value{values.front().name, REG_DWORD, std::string("\x01\x02\x03\x04", 4)});
    key.remove(values.back().name);
  }
  key.set(Value{L"fuzz", REG_SZ, std::string("z\0\0", 3)});
  if (!KeyFile::parse(key.text(), reread, error)) __builtin_trap();
  return 0;
}
