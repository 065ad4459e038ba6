// Drives the W3C reader over arbitrary bytes, read twice (log_reader_fuzz.h); every value
// must read the same by handle and by name.
#include <string>
#include <vector>

#include "log_reader_fuzz.h"
#include "traffic/w3c_file.h"

namespace {

using fuzzing::check;

// A line read as ASCII gives the same values as bytes as it does as text, field by field
// and, where the fields stand side by side, as one run.
void checkAsciiBytes(const W3CRecord& line, const std::vector<W3CField>& handles) {
  std::string bytes;
  check(line.appendAsciiValues(handles, bytes) == line.isAscii());
  if (!line.isAscii()) return;
  std::string expected;
  for (size_t i = 0; i < handles.size(); ++i) {
    const std::wstring_view value = line.get(handles[i]);
    if (i > 0) expected += ' ';
    if (value.empty()) expected += '-';
    for (wchar_t c : value) {
      check(static_cast<unsigned>(c) < 0x80);
      expected += static_cast<char>(c);
    }
  }
  check(bytes == expected);
  std::string run;
  if (line.fieldNames() && line.fieldNames()->runOf(handles) == 0 && line.appendAsciiRun(0, handles.size(), run))
    check(run == expected);
}

std::wstring readAll(W3CFile::iterator block) {
  std::wstring out;
  for (; !block.atEnd(); ++block) {
    out += L"#";
    for (const auto& [name, value] : block->directives()) out += name + L":" + value + L"\n";
    std::vector<W3CFile::field> handles;
    for (const std::wstring& name : block->fieldNames()) handles.push_back(block->field(name));
    W3CFile::record kept;
    for (W3CFile::line_iterator line(*block); !line.atEnd(); ++line) {
      out += line->line();
      out += L"\n";
      for (size_t i = 0; i < handles.size(); ++i) {
        const std::wstring_view byHandle = line->get(handles[i]);
        check(byHandle == line->get(block->fieldNames()[i]));
        check(byHandle.data() == nullptr || line->line().empty() ||
              (byHandle.data() >= line->line().data() &&
               byHandle.data() + byHandle.size() <= line->line().data() + line->line().size()));
        out += byHandle;
        out += L"|";
      }
      checkAsciiBytes(*line, handles);
      size_t fields = 0;
      line->forEach([&](std::wstring_view, std::wstring_view) { ++fields; });
      check(fields == line->size());
      kept = *line;
    }
    // A copy taken out of the loop still reads as the last record did.
    check(kept.toMap().size() == kept.size());
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzing::readTwice(data, size, [](std::unique_ptr<LogByteSource> source, text::NarrowCodec codec) {
    return readAll(W3CFile::iterator(std::move(source), std::move(codec)));
  });
}
