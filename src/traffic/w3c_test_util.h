#pragma once
// Test helpers: a W3C log read whole into text that assertions can compare.

#include <string>
#include <string_view>
#include <vector>

#include "platform/text/text_codec.h"
#include "traffic/w3c_file.h"

namespace w3c_test {

// "name=value name=value" in the record's map order (UTF-8).
inline std::string render(const W3CFile::record& r) {
  std::string out;
  r.forEach([&](std::wstring_view name, std::wstring_view value) {
    if (!out.empty()) out += ' ';
    out += text::toUtf8(name) + "=" + text::toUtf8(value);
  });
  return out;
}

// Every record of every block, rendered; a block starts with "#" and its field names.
inline std::vector<std::string> readAll(W3CFile::iterator block) {
  std::vector<std::string> out;
  for (; !block.atEnd(); ++block) {
    std::string head = "#";
    for (const std::wstring& name : block->fieldNames()) head += " " + text::toUtf8(name);
    out.push_back(head);
    for (W3CFile::line_iterator line(*block); !line.atEnd(); ++line) out.push_back(render(*line));
  }
  return out;
}

inline std::vector<std::string> readAll(std::string_view bytes) {
  return readAll(W3CFile::iterator(std::make_unique<LogByteSource>(bytes), text::NarrowCodec("UTF-8")));
}

}  // namespace w3c_test
