#pragma once
// The text of one registry key on disk (the file ".key" in the key's directory):
//
//   cadro-registry-key 1
//   key "Config"
//   "Debug" REG_DWORD 0x00000001
//   @ REG_SZ "default value"
//   "Paths" REG_MULTI_SZ ["C:\\a", "b"]
//   "Odd" REG_DWORD hex:01,02
//   end
//
// One line per value: the name ("@" for the default value, otherwise quoted), the type
// (REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD, or
// "type:" and a hex number for any other type) and the data. Data that an exact readable
// form holds is written in it (quoted text, a list of texts, 0x and 8 or 16 hex digits);
// anything else, a REG_DWORD of another size for example, as "hex:" and its bytes. The
// "end" line makes a truncated file recognisable. Blank lines and lines starting with
// '#' are ignored. Quoted text is UTF-8 with the escapes \\ \" \n \r \t, \uXXXX and
// \UXXXXXXXX.
//
// The parser validates the whole text, or for a read-modify-write only its structure (the
// lines, names and types, not the data). Changes edit the text in place, so lines the
// writer did not touch keep their bytes: a damaged value line survives a change of
// another value as it was, and its reads keep failing.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_data.h"

namespace registry {

struct KeyFileError {
  uint32_t line = 0;  // 1-based; 0 when the error concerns the whole text
  std::wstring reason;
};

class KeyFile {
 public:
  // An empty key of the given name.
  explicit KeyFile(std::wstring name = {});

  enum class Check {
    Everything,  // a KeyFile that parsed holds only readable values
    Structure,   // for changes: the data of the values is not looked at
  };
  // Parses and validates a key file; false (with the first error) when it is damaged.
  static bool parse(std::string text, KeyFile& out, KeyFileError& error, Check check = Check::Everything);
  // Reads only the name line of a key file; false when the text does not start like one.
  static bool parseName(std::string_view text, std::wstring& name);

  const std::wstring& name() const { return name_; }
  const std::string& text() const { return text_; }

  size_t valueCount() const { return entries_.size(); }
  // The value at an index (file order). After a structure-only parse, data that does not
  // read gives what could be read of it.
  Value value(size_t index) const;
  std::vector<Value> values() const;
  // The first value of that name (case-insensitive); false when there is none.
  bool find(std::wstring_view name, Value& out) const;
  bool contains(std::wstring_view name) const;

  // Replaces the value of that name (keeping its place and the spelling of its name, as a
  // Windows registry does) or appends it. Later lines of the same name are dropped.
  void set(const Value& value);
  // Removes every value of that name; false when there was none.
  bool remove(std::wstring_view name);
  void removeAll();

  // The line that holds a value, with its line feed.
  static std::string formatValueLine(const Value& value);

 private:
  struct Entry {
    size_t lineBegin = 0;  // first byte of the line
    size_t lineEnd = 0;    // one past its line feed
    size_t nameBegin = 0, nameEnd = 0;  // the name token ("@" or the quoted name)
    size_t dataBegin = 0, dataEnd = 0;  // the data token
    uint32_t type = REG_NONE;
  };

  std::wstring entryName(const Entry& e) const;
  bool entryNamed(const Entry& e, std::wstring_view name, std::wstring& scratch) const;
  void replaceBytes(size_t begin, size_t end, std::string_view with);

  std::wstring name_;
  std::string text_;
  std::vector<Entry> entries_;
  size_t endLine_ = 0;  // where the "end" line begins
};

}  // namespace registry
