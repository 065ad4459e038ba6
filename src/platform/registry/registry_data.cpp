#include "platform/registry/registry_data.h"

#include "platform/text/text_codec.h"

namespace registry {

std::string encodeString(std::wstring_view text) {
  std::string out = text::toUtf16le(text);
  out.append(2, '\0');
  return out;
}

std::string encodeMultiString(const std::vector<std::wstring>& items) {
  std::string out;
  for (const std::wstring& item : items) {
    out += text::toUtf16le(item);
    out.append(2, '\0');
  }
  out.append(2, '\0');
  return out;
}

std::string encodeDword(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string encodeQword(uint64_t value) {
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

namespace {

// UTF-16LE units -> wide text. Unlike text::fromUtf16le a leading U+FEFF is data here, not
// a byte-order mark; unpaired surrogates become U+FFFD.
std::wstring fromUnits(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at]) |
                                 (static_cast<unsigned char>(bytes[at + 1]) << 8));
  };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      uint32_t v = unit(i + 2);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00)));
        i += 2;
        continue;
      }
    }
    out.push_back(u >= 0xD800 && u <= 0xDFFF ? text::kReplacement : static_cast<wchar_t>(u));
  }
  return out;
}

// Byte length of the UTF-16 units before the first NUL unit, starting at `from`.
size_t unitsUntilNul(std::string_view data, size_t from) {
  size_t i = from;
  while (i + 1 < data.size() && (data[i] != '\0' || data[i + 1] != '\0')) i += 2;
  return i - from;
}

}  // namespace

std::wstring decodeString(std::string_view data) {
  size_t n = unitsUntilNul(data, 0);
  // An unterminated odd tail is half a character: dropped.
  return fromUnits(data.substr(0, n - n % 2));
}

std::vector<std::wstring> decodeMultiString(std::string_view data) {
  std::vector<std::wstring> items;
  size_t pos = 0;
  while (pos + 1 < data.size()) {
    size_t n = unitsUntilNul(data, pos);
    if (n == 0) break;
    items.push_back(fromUnits(data.substr(pos, n - n % 2)));
    pos += n + 2;
  }
  return items;
}

bool canonicalString(std::string_view data, std::wstring* textOut) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  size_t n = unitsUntilNul(data, 0);
  if (n != data.size() - 2) return false;
  std::wstring decoded = fromUnits(data.substr(0, n));
  // Unpaired surrogates do not survive the round trip.
  if (text::toUtf16le(decoded) != data.substr(0, n)) return false;
  if (textOut) *textOut = std::move(decoded);
  return true;
}

bool canonicalMultiString(std::string_view data, std::vector<std::wstring>* itemsOut) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  std::vector<std::wstring> items = decodeMultiString(data);
  if (encodeMultiString(items) != data) return false;
  if (itemsOut) *itemsOut = std::move(items);
  return true;
}

namespace {

struct TypeEntry {
  uint32_t type;
  std::string_view name;
};

constexpr TypeEntry kTypes[] = {
    {REG_NONE, "REG_NONE"},         {REG_SZ, "REG_SZ"},           {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"},     {REG_DWORD, "REG_DWORD"},     {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_QWORD, "REG_QWORD"},
};

}  // namespace

const char* typeName(uint32_t type) {
  for (const TypeEntry& t : kTypes)
    if (t.type == type) return t.name.data();
  return nullptr;
}

std::optional<uint32_t> typeFromName(std::string_view name) {
  for (const TypeEntry& t : kTypes)
    if (t.name == name) return t.type;
  for (const TypeEntry& t : kTypes) {
    if (t.name.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      char c = name[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      same = c == t.name[i];
    }
    if (same) return t.type;
  }
  return std::nullopt;
}

}  // namespace registry
