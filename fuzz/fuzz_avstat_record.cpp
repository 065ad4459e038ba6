// Drives the statistics log path over arbitrary bytes read as a UTF-16LE log: the reader's
// pieces, the record matcher on each, and the recipients splitter on every recipients field
// and on every whole piece. Every view handed out must lie inside what it was cut from, and
// every address must be non-empty and trimmed.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "maintenance/avstat_record.h"
#include "maintenance/recipient_list.h"
#include "maintenance/utf16_log_reader.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool inside(std::wstring_view part, std::wstring_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

bool isSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

void split(std::wstring_view text) {
  RecipientList list(text);
  size_t count = 0;
  for (std::wstring_view address; list.next(address);) {
    check(!address.empty() && inside(address, text));
    check(!isSpace(address.front()) && !isSpace(address.back()));
    check(++count <= text.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks how many bytes each read hands over; the rest is the file.
  const size_t chunk = data[0] & 0x3F;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  Utf16LogReader reader(bytes, chunk);
  AvLogLineMatcher matcher;
  AvLogRecord record;
  while (reader.next()) {
    const std::wstring_view piece = reader.piece();
    check(!piece.empty() && piece.size() <= Utf16LogReader::kPieceCharacters);
    split(piece);
    if (!matcher.match(piece, record)) continue;
    check(piece.size() >= 2 && piece.substr(piece.size() - 2) == L"\r\n");
    const std::wstring_view day = record.day();
    for (size_t i = 0; i < day.size(); ++i) check(i == 4 || i == 7 ? day[i] == L'-' : (day[i] >= L'0' && day[i] <= L'9'));
    if (!record.hasMessage) continue;
    check(!record.status.empty() && inside(record.status, piece));
    check(inside(record.recipients, piece) && inside(record.virus, piece));
    split(record.recipients);
  }
  return 0;
}
