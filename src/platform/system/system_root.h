#pragma once
// The system root: the one directory under which all emulated machine state lives
// (registry store, event logs, named objects, IIS site settings, service settings).
// It is $CADRO_SYSTEM_ROOT, or /var/lib/cadro/system when that is unset or empty,
// read on every call so that a test can point a process at its own root.

#include <string>
#include <string_view>

namespace sysroot {

inline constexpr const char* kDefaultRoot = "/var/lib/cadro/system";

std::string root();
// root() + "/" + relative.
std::string path(std::string_view relative);

// Creates a directory and its missing parents (mode 0755); true when it exists afterwards.
bool ensureDirectory(const std::string& dir);

}  // namespace sysroot

namespace process {

// Full path of the running executable (/proc/self/exe), resolved once.
const std::string& executablePath();
// Its file name with extension: the event source name.
std::string executableName();
// The system temporary directory: $TMPDIR, else /tmp.
std::string tempDirectory();

}  // namespace process
