#pragma once
// The .reg text format of registry exports:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Cadro]
//   "Name"="text"
//   @="the default value"
//   "Count"=dword:0000000a
//   "Raw"=hex:01,02,03
//   "Path"=hex(2):25,00,54,00,...,00,00
//   "Old"=-
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Gone]
//
// The header is "Windows Registry Editor Version 5.00" (the file UTF-8 or UTF-16LE with a
// byte-order mark) or "REGEDIT4" (the narrow system code page; its hex(1), hex(2) and
// hex(7) data are narrow text too). Quoted names and texts take the escapes \\ and \"
// (and \n, \r, \t, which this program writes for names that hold those characters).
// A line that ends with a backslash continues on the next one. Lines starting with ';'
// are comments. Only HKEY_LOCAL_MACHINE (or HKLM) is accepted as the root.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_data.h"
#include "platform/registry/registry_names.h"

namespace registry {

// One change that a .reg file asks for, in file order.
struct RegFileChange {
  enum class Kind { DeleteKey, CreateKey, SetValue, DeleteValue };
  Kind kind = Kind::CreateKey;
  KeyPath key;      // below HKEY_LOCAL_MACHINE
  Value value;      // SetValue: the value; DeleteValue: its name
  uint32_t line = 0;
};

struct RegFileError {
  uint32_t line = 0;
  std::wstring reason;
};

// Parses and validates a whole file; false with the first bad line. Nothing is applied
// here, so a caller can refuse a file that is bad anywhere before changing anything.
bool parseRegFile(std::string_view bytes, std::vector<RegFileChange>& out, RegFileError& error);

// "HKEY_LOCAL_MACHINE\..." or "HKLM\..." (case-insensitive) -> the path below the root;
// false for any other root.
bool splitRootedKeyName(std::wstring_view name, KeyPath& path);

// Builds the text of an export (UTF-8, line feeds).
class RegFileWriter {
 public:
  RegFileWriter();
  // Starts the section of a key, given by its full name ("HKEY_LOCAL_MACHINE\..."); false
  // (nothing written) for a name with a line break, which the format cannot hold.
  bool key(std::wstring_view fullName);
  void value(const Value& value);
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace registry
