#pragma once
// Running control-panel utilities and other programs to completion through the command
// interpreter, with their output captured (vexecutil.h) and every launch traced when
// "DebugUtilExec" is on (exec_trace.h).

#include <cstdint>
#include <string>

#include "platform/exec/exec_settings.h"
#include "platform/exec/exec_trace.h"
#include "platform/exec/vexecutil.h"

// What execExtUtil does with a failure.
enum class ExecErrorPolicy {
  Raise,        // pass it on
  ReturnEmpty,  // report it at level 0 and return an empty text
};

// Prepares the launcher for the utility <product root>/admin/bin/`utility` with its output
// captured (and its input fed with `input` when given), writes the start line of `trace`,
// reports "Execute %s %s" (path, arguments) at level 0, starts it and queues the input.
// Raises when the product root cannot be asked or names no directory, or the start fails.
vexecutil startUtilInternal(const std::wstring& utility, const std::wstring& arguments, const std::string* input,
                            const ExecTrace& trace, ExecSettings& settings);

// Runs a utility to completion. `output` (when given) receives its standard output decoded
// from UTF-8. A non-zero exit code raises "Execute " + utility + " " + arguments +
// " failed: " + the output decoded from the ANSI code page (operation "execUtil"); so the
// result is 0 whenever it returns.
uint32_t execUtil(const std::wstring& utility, const std::wstring& arguments, std::wstring* output = nullptr,
                  const std::string* input = nullptr, ExecSettings& settings = ExecSettings::system());

// Runs any program to completion and returns its standard output decoded from the ANSI code
// page; its exit code goes to `exitCode` when given (a non-zero code is no failure here).
// Reports "Execute %s %s" before and "Execute %s %s result: %s" after, at level 0. A failure
// is passed on with the context "Execute %s %s" (operation "execExtUtil"), or reported and
// answered with an empty text, as `policy` says.
std::wstring execExtUtil(const std::wstring& path, const std::wstring& arguments, ExecErrorPolicy policy,
                         uint32_t* exitCode = nullptr, ExecSettings& settings = ExecSettings::system());
