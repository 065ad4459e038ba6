// Drives the Serv-U reader over arbitrary bytes, read twice (log_reader_fuzz.h); every
// record must read the same through its W3C form, carry a bracketed method exactly when it
// has a kind, and count bytes only for a transfer.
#include <string>

#include "log_reader_fuzz.h"
#include "traffic/servu_file.h"

namespace {

using fuzzing::check;

std::wstring readAll(ServUFile::iterator line) {
  using Kind = ServUFile::record::Kind;
  std::wstring out;
  W3CRecord w3c;
  for (; !line.atEnd(); ++line) {
    const ServUFile::record& r = *line;
    r.toW3C(w3c);
    for (const std::wstring& name : w3c.fieldNames()->names()) {
      check(w3c.get(name) == r.get(name));
      out += w3c.get(name);
      out += L"|";
    }
    const bool transfer = r.kind() == Kind::download || r.kind() == Kind::upload;
    check(transfer || r.byteCount() == 0);
    check((r.kind() == Kind::none) == (r.get(L"cs-method") == L"-"));
    check(r.get(L"date").size() == 1 || r.get(L"date").size() == 10);
    ServUFile::record kept = r;
    check(kept.get(L"cs-method") == r.get(L"cs-method"));
    (void)r.utcTime();
    out += L"\n";
  }
  check(line.openSessions() == 0);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzing::readTwice(data, size, [](std::unique_ptr<LogByteSource> source, text::NarrowCodec codec) {
    return readAll(ServUFile::iterator(std::move(source), std::move(codec)));
  });
}
