// Drives the W3C reader over arbitrary bytes, read twice (log_reader_fuzz.h); every value
// must read the same by handle and by name.
#include <string>

#include "log_reader_fuzz.h"
#include "traffic/w3c_file.h"

namespace {

using fuzzing::check;

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
