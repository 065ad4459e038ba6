#pragma once
// The tasks a run executes, as a set of bits computed from the options.

#include <cstdint>
#include <string>

#include "app/params.h"

namespace tasks {

inline constexpr uint32_t kDiskUsage = 0x001;
inline constexpr uint32_t kHttpTraffic = 0x002;
inline constexpr uint32_t kFtpTraffic = 0x004;
inline constexpr uint32_t kMailTraffic = 0x010;
inline constexpr uint32_t kNotify = 0x020;
inline constexpr uint32_t kUpdateActions = 0x040;
inline constexpr uint32_t kHttpWebStatistics = 0x080;
inline constexpr uint32_t kFtpWebStatistics = 0x100;
inline constexpr uint32_t kMailboxUsage = 0x200;
inline constexpr uint32_t kAntivirus = 0x400;
// What "--all" (and no task option at all) stands for: every task except the notice and
// the two web-statistics-only bits.
inline constexpr uint32_t kAll = 0x657;
// Not a task: the help was printed and nothing is to run.
inline constexpr uint32_t kHelpPrinted = 0x10000000;

// The options the run accepts, in the order of its usage text.
const OptionList& acceptedOptions();

// The help text, every line ending in a line feed.
const std::wstring& helpText();

// The task set of the options: prints the help and returns kHelpPrinted for "-h" or
// "--help"; otherwise the bits of the task options present, or kAll when there is none or
// when "--all" is present ("--all" replaces the set).
uint32_t taskSet(const ParamMap& params);

}  // namespace tasks
