#include "traffic/ip_address_text.h"

bool looksLikeIPAddress(std::wstring_view text) {
  size_t at = 0;
  for (int number = 0; number < 3; ++number) {
    const size_t start = at;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') ++at;
    if (at == start || at == text.size() || text[at] != L'.') return false;
    ++at;
  }
  return true;
}
