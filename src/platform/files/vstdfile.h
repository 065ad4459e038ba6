#pragma once
// A buffered text file in the system code page (the narrow "ANSI" text the analysers and
// their configuration files use). Wide text is converted on the way in and out; line
// endings are kept as they are: readLine hands a line with its "\n" (and any "\r" before
// it), write puts out exactly what it is given.
//
// Failures raise the program's OS exception for the errno with the call's operation text
// ("CreateFile '<path>'", "WriteFile '<path>'", ...). Files opened for writing do not
// follow a symbolic link in the last component (code 5). The destructor closes without
// raising; call close() to learn whether the last buffered data reached the file.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/text_codec.h"

class VStdFile {
 public:
  enum class Mode { Read, Write, Append };  // Write creates or truncates; Append creates

  VStdFile(const std::wstring& path, Mode mode);
  ~VStdFile();
  VStdFile(VStdFile&& other) noexcept;
  VStdFile& operator=(VStdFile&& other) = delete;
  VStdFile(const VStdFile&) = delete;
  VStdFile& operator=(const VStdFile&) = delete;

  const std::wstring& path() const { return path_; }
  bool isOpen() const { return file_ != nullptr; }

  // Appends `text` converted to the system code page.
  void write(std::wstring_view text);
  // Appends `line` and a line feed.
  void writeLine(std::wstring_view line);
  // Appends bytes unchanged.
  void writeBytes(std::string_view bytes);
  // The next line with its line ending (the last line may have none); false at the end.
  bool readLine(std::wstring& line);
  // Hands the buffered data to the system.
  void flush();
  void close();

  // All lines of a file, each with its line ending.
  static std::vector<std::wstring> readLines(const std::wstring& path);
  // Creates or replaces `path` with the lines written as they are.
  static void writeLines(const std::wstring& path, const std::vector<std::wstring>& lines);

 private:
  std::wstring path_;
  FILE* file_ = nullptr;
  text::NarrowCodec codec_;
  char* lineBuffer_ = nullptr;
  size_t lineCapacity_ = 0;
};
