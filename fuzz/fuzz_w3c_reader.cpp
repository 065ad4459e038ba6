// Drives the W3C reader over arbitrary bytes twice: straight from memory, and through a
// descriptor with a tiny buffer so that refills and buffer growth fall on every position.
// Both readings must agree, and every value must read the same by handle and by name.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/text/text_codec.h"
#include "traffic/w3c_file.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
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
  if (size == 0) return 0;
  // The first byte picks the code page and the buffer size; the rest is the file.
  const text::NarrowCodec codec(data[0] & 0x80 ? "ISO-8859-1" : "UTF-8");
  const size_t bufferSize = 1 + (data[0] & 0x3F);
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::wstring fromMemory = readAll(W3CFile::iterator(std::make_unique<LogByteSource>(bytes), codec));

  int fd = ::memfd_create("w3c", MFD_CLOEXEC);
  if (fd < 0) return 0;
  check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  check(::lseek(fd, 0, SEEK_SET) == 0);
  const std::wstring fromFile =
      readAll(W3CFile::iterator(std::make_unique<LogByteSource>(fd, L"memfd", bufferSize), codec));
  check(fromMemory == fromFile);
  return 0;
}
