#include "db/ip_address.h"

namespace {

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads one octet at `pos`; false (and `pos` unchanged) when there is none.
bool readOctet(std::wstring_view text, size_t& pos, uint32_t& octet) {
  size_t at = pos;
  uint32_t value = 0;
  while (at < text.size() && isDigit(text[at])) {
    value = value * 10 + static_cast<uint32_t>(text[at] - L'0');
    // Stopping early keeps a long run of digits from wrapping into a plausible octet.
    if (value > 255) return false;
    ++at;
  }
  if (at == pos) return false;
  pos = at;
  octet = value;
  return true;
}

}  // namespace

uint32_t parseIPAddress(std::wstring_view text, int* bitsRead) {
  uint32_t address = 0;
  int octets = 0;
  size_t pos = 0;
  while (octets < 4) {
    size_t at = pos;
    if (octets > 0) {
      if (at >= text.size() || text[at] != L'.') break;
      ++at;
    }
    uint32_t octet = 0;
    if (!readOctet(text, at, octet)) break;
    pos = at;
    address = (address << 8) | octet;
    ++octets;
  }
  if (bitsRead) *bitsRead = octets * 8;
  // A shift by 32 is undefined, and nothing read means the zero address anyway.
  if (octets == 0) return 0;
  return address << (8 * (4 - octets));
}

std::wstring formatIPAddress(uint32_t address) {
  std::wstring out;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (shift != 24) out += L'.';
    out += std::to_wstring((address >> shift) & 0xFF);
  }
  return out;
}
