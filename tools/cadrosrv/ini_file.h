#pragma once
// The management service's configuration: INI text in UTF-8. A line whose first non-blank
// character is ';' or '#' is a comment; "[name]" opens a section; "name = value" is an
// entry, the value being the rest of the line after the first '=' (so it may hold '=', ';'
// and '#'). Blanks (space, tab) around names and values are trimmed, names and section
// names are case-sensitive, the first occurrence of a name in a section counts. Lines of any
// other form are kept and ignored.
//
// The text is kept line by line, so that an edit changes one line and the rest of the file,
// comments and layout included, is written back byte for byte.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cadrosrv {

class IniFile {
 public:
  // Never fails: every byte sequence is some INI text (a UTF-8 byte-order mark is skipped).
  static IniFile parse(std::string_view text);

  // The value of `name` in `section`, nullopt when absent.
  std::optional<std::string> get(std::string_view section, std::string_view name) const;

  // Sets `name` in `section`: the first existing entry gets the new value, otherwise an
  // entry is added at the end of the section's last block (a missing section is appended).
  // Throws ArgumentException for a name or value that the format cannot hold unchanged
  // (empty or blank-edged name, '=' in the name, line breaks or NUL, blank-edged value).
  void set(std::string_view section, std::string_view name, std::string_view value);

  std::string text() const;

 private:
  std::vector<std::string> lines_;  // without '\n'; a CR of a CRLF file stays on its line
  bool finalNewline_ = false;
  bool crlf_ = false;
};

// Reads and parses a configuration file; throws vosexception ("read configuration '" +
// path + "'") when it cannot be read.
IniFile loadIniFile(const std::string& path);

// Replaces the file atomically (temporary file beside it, fsync, rename, fsync of the
// directory), keeping its permissions; a new file is created with mode 0600 since it holds
// passwords. A symbolic link is followed, so the link stays. Throws vosexception.
void saveIniFile(const std::string& path, const IniFile& file);

}  // namespace cadrosrv
