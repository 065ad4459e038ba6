#include "reg_arguments.h"

#include "platform/registry/reg_file.h"
#include "platform/text/text_codec.h"

namespace cadroreg {

const char* const kUsage =
    "Usage: cadro-reg query KEY [/v NAME | /ve] [/s]\n"
    "       cadro-reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
    "       cadro-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "       cadro-reg import FILE\n"
    "       cadro-reg export KEY FILE\n"
    "KEY is HKLM\\PATH or HKEY_LOCAL_MACHINE\\PATH. TYPE is REG_SZ (the default), REG_EXPAND_SZ,\n"
    "REG_MULTI_SZ (items separated by \\0), REG_DWORD or REG_QWORD (decimal or 0x hex),\n"
    "REG_BINARY or REG_NONE (hex digits).\n";

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}

bool isSwitch(const std::string& arg) { return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-'); }

}  // namespace

bool parseArguments(const std::vector<std::string>& args, Arguments& out, ArgumentError& error) {
  auto usage = [&](std::wstring message) {
    error.message = std::move(message);
    error.usage = true;
    return false;
  };
  if (args.empty()) return usage(L"a command is missing");
  std::string verb = lower(args[0]);
  if (verb == "/?" || verb == "-?" || verb == "-h" || verb == "--help" || verb == "help") {
    out.verb = Verb::Help;
    return true;
  }
  if (verb == "query")
    out.verb = Verb::Query;
  else if (verb == "add")
    out.verb = Verb::Add;
  else if (verb == "delete")
    out.verb = Verb::Delete;
  else if (verb == "import")
    out.verb = Verb::Import;
  else if (verb == "export")
    out.verb = Verb::Export;
  else
    return usage(L"unknown command '" + text::fromAnsi(args[0]) + L"'");

  std::vector<std::string> positional;
  bool ve = false, force = false, overwrite = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!isSwitch(arg)) {
      positional.push_back(arg);
      continue;
    }
    std::string sw = lower(arg.substr(1));
    auto allowed = [&](std::initializer_list<Verb> verbs) {
      for (Verb v : verbs)
        if (v == out.verb) return true;
      return false;
    };
    auto operand = [&](std::optional<std::wstring>& slot) {
      if (slot) return usage(L"/" + text::fromAnsi(sw) + L" is given twice");
      if (i + 1 >= args.size()) return usage(L"/" + text::fromAnsi(sw) + L" needs a value");
      slot = text::fromAnsi(args[++i]);
      return true;
    };
    if (sw == "v" && allowed({Verb::Query, Verb::Add, Verb::Delete})) {
      if (ve) return usage(L"/v and /ve exclude each other");
      if (!operand(out.valueName)) return false;
    } else if (sw == "ve" && allowed({Verb::Query, Verb::Add, Verb::Delete})) {
      if (out.valueName) return usage(ve ? L"/ve is given twice" : L"/v and /ve exclude each other");
      ve = true;
      out.valueName = L"";
    } else if (sw == "va" && allowed({Verb::Delete})) {
      if (out.allValues) return usage(L"/va is given twice");
      out.allValues = true;
    } else if (sw == "s" && allowed({Verb::Query})) {
      if (out.recurse) return usage(L"/s is given twice");
      out.recurse = true;
    } else if (sw == "t" && allowed({Verb::Add})) {
      if (!operand(out.type)) return false;
    } else if (sw == "d" && allowed({Verb::Add})) {
      if (!operand(out.data)) return false;
    } else if (sw == "f" && allowed({Verb::Add, Verb::Delete})) {
      if (force) return usage(L"/f is given twice");
      force = true;  // there is never a prompt to skip
    } else if (sw == "y" && allowed({Verb::Export})) {
      if (overwrite) return usage(L"/y is given twice");
      overwrite = true;  // an export always replaces the file
    } else if (out.verb == Verb::Import || out.verb == Verb::Export) {
      positional.push_back(arg);  // an absolute file name
    } else {
      return usage(L"invalid switch '" + text::fromAnsi(arg) + L"'");
    }
  }
  if (out.allValues && out.valueName) return usage(L"/va excludes /v and /ve");

  size_t expected = out.verb == Verb::Export ? 2 : 1;
  if (positional.size() != expected)
    return usage(positional.size() < expected ? L"an argument is missing" : L"too many arguments");
  if (out.verb == Verb::Import) {
    out.file = positional[0];
    return true;
  }
  if (out.verb == Verb::Export) out.file = positional[1];
  out.keyName = text::fromAnsi(positional[0]);
  if (!registry::splitRootedKeyName(out.keyName, out.key)) {
    error.message = L"Invalid key name.";
    error.usage = false;
    return false;
  }
  return true;
}

}  // namespace cadroreg
