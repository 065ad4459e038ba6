#pragma once
// Test support for the limit events: a control panel installation under a product root with
// its own PHP (a link to the machine's PHP) and an event script that records the arguments
// of every run, one line each, as "self|ARG|ARG|..." ("self" when the script was named by
// its own path, otherwise the name it was given).

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace usage_testing {

class RecordingEventScript {
 public:
  // Installs the control panel's PHP and the script under `productRoot`. `behaviour` is PHP
  // run after the record, with the event's arguments in $args (for example an exit code).
  explicit RecordingEventScript(std::string productRoot, const std::string& behaviour = "")
      : root_(std::move(productRoot)) {
    std::filesystem::create_directories(root_ + "/admin/bin");
    std::filesystem::create_symlink("/usr/bin/php", root_ + "/admin/bin/php");
    testing_support::writeFile(
        script(),
        "<?php\n"
        "$args = array_slice($argv, 1);\n"
        "$name = $argv[0] === __FILE__ ? 'self' : $argv[0];\n"
        "file_put_contents(__DIR__ . '/events.log', implode('|', array_merge([$name], $args)) . \"\\n\", FILE_APPEND);\n" +
            behaviour);
  }

  std::string script() const { return root_ + "/admin/plib/actionlog/actionlog.php"; }

  // The recorded runs, sorted (events of one check follow the database's row order).
  std::vector<std::string> events() const {
    const std::string path = root_ + "/admin/plib/actionlog/events.log";
    std::vector<std::string> lines;
    if (!testing_support::fileExists(path)) return lines;
    std::istringstream in(testing_support::readFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
  }
  void clear() const { ::unlink((root_ + "/admin/plib/actionlog/events.log").c_str()); }

 private:
  std::string root_;
};

// The first day of the month `monthsBack` months before this one, as "YYYY-MM-DD" (local
// time, as the databases' own "now").
inline std::string firstOfMonth(int monthsBack = 0) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  int month = local.tm_year * 12 + local.tm_mon - monthsBack;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-01", month / 12 + 1900, month % 12 + 1);
  return text;
}

}  // namespace usage_testing
