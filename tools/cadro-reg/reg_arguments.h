#pragma once
// The command line of cadro-reg:
//   cadro-reg query KEY [/v NAME | /ve] [/s]
//   cadro-reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   cadro-reg delete KEY [/v NAME | /ve | /va] [/f]
//   cadro-reg import FILE
//   cadro-reg export KEY FILE [/y]
// Verbs and switches are case-insensitive; a switch may start with '/' or '-'.

#include <optional>
#include <string>
#include <vector>

#include "platform/registry/registry_names.h"

namespace cadroreg {

enum class Verb { Help, Query, Add, Delete, Import, Export };

struct Arguments {
  Verb verb = Verb::Help;
  std::wstring keyName;                   // as typed
  registry::KeyPath key;                  // below HKEY_LOCAL_MACHINE
  std::optional<std::wstring> valueName;  // /v NAME, or "" for /ve
  bool allValues = false;                 // /va
  bool recurse = false;                   // /s
  std::optional<std::wstring> type;       // /t
  std::optional<std::wstring> data;       // /d
  std::string file;                       // import, export
};

struct ArgumentError {
  std::wstring message;
  bool usage = true;  // false: a bad key name, reported without the usage text
};

// Parses argv; false with the error.
bool parseArguments(const std::vector<std::string>& args, Arguments& out, ArgumentError& error);

extern const char* const kUsage;

}  // namespace cadroreg
