#include "testing/analyser_layout.h"

#include <sys/stat.h>

#include <memory>
#include <sstream>
#include <stdexcept>

#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace testing_support {

const AnalyserLayout& analyserLayout() {
  static std::unique_ptr<TempDir> dir;
  static AnalyserLayout layout;
  if (!dir) {
    auto made = std::make_unique<TempDir>();
    const std::string script = std::string(CADRO_SOURCE_DIR) + "/scripts/analyser-layout";
    ProcessResult r = runProcess(script, {made->path()});
    if (r.exitCode != 0) throw std::runtime_error("scripts/analyser-layout failed: " + r.err);
    layout = {made->file("awstats"), made->file("webalizer/bin/webalizer"), made->file("perl")};
    dir = std::move(made);
  }
  return layout;
}

void writeRecordingProgram(const std::string& path, const std::string& callsFile) {
  writeFile(path, "#!/bin/sh\n"
                  "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >>'" + callsFile + "'\n"
                  "echo -- >>'" + callsFile + "'\n"
                  "for a in \"$@\"; do case \"$a\" in -output*) out=$a;; esac; done\n"
                  "[ -n \"$out\" ] && printf '<html>%s</html>\\n' \"$out\"\n"
                  "exit 0\n");
  ::chmod(path.c_str(), 0755);
}

std::vector<std::vector<std::string>> recordedCalls(const std::string& callsFile) {
  std::vector<std::vector<std::string>> calls(1);
  if (!fileExists(callsFile)) return {};
  std::istringstream in(readFile(callsFile));
  for (std::string line; std::getline(in, line);) {
    if (line == "--")
      calls.emplace_back();
    else
      calls.back().push_back(line);
  }
  calls.pop_back();
  return calls;
}

}  // namespace testing_support
