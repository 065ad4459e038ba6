#pragma once
// Finding the file a script runner is asked to start and the command line that runs it
// (the forms of command_escaping.h).
//
// Search, in order: the name as given (a path, or relative to the current directory); the
// current directory; /usr/bin; /bin; each directory of PATH (of the given environment, or
// the program's own when none is given). An absolute name is only taken as given. In each
// directory the exact name is tried first; when it is absent, NAME.* is listed instead
// (directories are passed over). Every match in the first directory that has any is a
// candidate, in listing order; the first candidate whose command line can be built is used.
//
// Interpreter table, tried in this order; extensions and #! texts compare upper-cased:
//   executable    forced by the caller, or an ELF file with an execute bit:  'FILE' ARGS
//   PHP           the first non-blank line starts with "<?", or with "<%" or "<SCRIPT" and
//                 the extension is PHP or PHP3:  '<php>/php' 'FILE' ARGS
//   #! line       its interpreter text (trailing "/" and "\" removed) naming PERL, PYTHON
//                 or PHP, tested in that order; another interpreter fails "Is not a known
//                 application (TEXT)", unless the extension is a batch one: such a script
//                 carries its own interpreter line and is started as the batch row says
//   extension     BAT, CMD, SH (batch):  'FILE' ARGS; for BAT and CMD every backslash
//                 directly followed by a double quote is first removed with that quote
//                 VB, VBS, VBE, JS, JSE, ASP (Windows Script Host): never installed here
//                 PL, PM:  '<perl>/bin/perl' 'FILE' ARGS
//                 PY, PYC:  '<python>/python3' 'FILE' ARGS
//                 PHP, PHP3:  as PHP above
//                 none or another: "Is not a known application"
// With the control panel's PHP requested, PHP runs as
//   '<product root>/admin/bin/php' '-q' '-dauto_prepend_file=' '-c' 'php.ini' 'FILE' ARGS
// <php>, <perl> and <python> are the component directories of "php", "perl" and "python"
// (ExecSettings); an interpreter is not installed when its directory is empty or it is not
// an executable file.
//
// Failure messages (vexception, operation "ProcessRunner::resolveCommandLine"):
//   "'%s' is not recognized as an internal or external command, operable program or batch file."
//   "Unable to start (%s): Is not a known application"
//   "Unable to start (%s): Is not a known application (%s)"
//   "Unable to start (%s): PHP is not installed"   (also Perl, Python, Windows Script Host)
// When every candidate fails, the message is theirs joined by line feeds.

#include <string>
#include <vector>

#include "platform/exec/exec_settings.h"

struct ScriptStartOptions {
  bool forceExecutable = false;  // start the file itself, whatever it holds
  bool panelPhp = false;         // PHP scripts run with the control panel's own PHP
};

// The candidate files for `program`, in order. `environment` holds "NAME=VALUE" entries
// (empty: the program's own environment) for the PATH step. Raises the "is not recognized"
// failure when there is none, and "Unable to get file (%s) attributes" with the OS error
// for a name that cannot be examined.
std::vector<std::wstring> findScriptCandidates(const std::wstring& program,
                                               const std::vector<std::wstring>& environment);

// The command line that runs `file` with `arguments` (escaped here) by the table above.
std::wstring scriptCommandLine(const std::wstring& file, const std::wstring& arguments,
                               const ScriptStartOptions& options, ExecSettings& settings);

// findScriptCandidates, then the first candidate's command line that can be built.
std::wstring resolveScriptCommandLine(const std::wstring& program, const std::wstring& arguments,
                                      const std::vector<std::wstring>& environment,
                                      const ScriptStartOptions& options, ExecSettings& settings);
