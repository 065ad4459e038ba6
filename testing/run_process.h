#pragma once
// Runs a program as a separate process and collects its exit code and output.

#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
  int exitCode = -1;  // the exit status, or 128 + signal when killed
  std::string out;
  std::string err;
};

// Runs `program` with `args` (argv[0] is the program path). `env` entries are set (an empty
// value sets the variable to the empty string) on top of the current environment; names in
// `unset` are removed. Standard input is /dev/null unless `input` is given.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {},
                         const std::vector<std::string>& unset = {}, const std::string* input = nullptr);

}  // namespace testing_support
