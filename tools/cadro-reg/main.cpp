// cadro-reg: reads and writes the registry store with the syntax of the Windows reg command.
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/text/text_codec.h"
#include "reg_arguments.h"
#include "reg_commands.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  cadroreg::Arguments parsed;
  cadroreg::ArgumentError error;
  if (!cadroreg::parseArguments(args, parsed, error)) {
    std::string message = "ERROR: " + text::toUtf8(error.message) + "\n";
    if (error.usage) message += cadroreg::kUsage;
    std::fputs(message.c_str(), stderr);
    return 1;
  }
  switch (parsed.verb) {
    case cadroreg::Verb::Help: std::fputs(cadroreg::kUsage, stdout); return 0;
    case cadroreg::Verb::Query: return cadroreg::runQuery(parsed);
    case cadroreg::Verb::Add: return cadroreg::runAdd(parsed);
    case cadroreg::Verb::Delete: return cadroreg::runDelete(parsed);
    case cadroreg::Verb::Import: return cadroreg::runImport(parsed);
    case cadroreg::Verb::Export: return cadroreg::runExport(parsed);
  }
  return 1;
}
