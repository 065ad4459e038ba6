#pragma once
// The generators' installations for tests, made once per test process by
// scripts/analyser-layout from the installed Debian packages, and a stand-in that records
// how it is started.

#include <string>
#include <vector>

namespace testing_support {

struct AnalyserLayout {
  std::string awstatsRoot;       // AWStatsPath and the "awstats" component
  std::string webalizerProgram;  // WebalizerPath
  std::string perlComponent;     // the "perl" component: <it>/bin/perl
};

// The layout, built at the first call in a directory that lives as long as the process.
const AnalyserLayout& analyserLayout();

// Writes an executable shell script at `path` that appends each of its arguments as one
// line to `callsFile`, then a line "--", and prints "<html>" + its last argument +
// "</html>" when an argument starts with "-output".
void writeRecordingProgram(const std::string& path, const std::string& callsFile);

// The calls a recording program made: the arguments of each call.
std::vector<std::vector<std::string>> recordedCalls(const std::string& callsFile);

}  // namespace testing_support
