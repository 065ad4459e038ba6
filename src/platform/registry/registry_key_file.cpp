#include "platform/registry/registry_key_file.h"

#include <cstring>

#include "platform/registry/registry_names.h"
#include "platform/text/text_codec.h"

namespace registry {

namespace {

constexpr std::string_view kHeader = "cadro-registry-key 1";
const char kHex[] = "0123456789abcdef";

// Hex digit values by byte, -1 for anything else: the parser's inner loops use it.
struct HexTable {
  signed char value[256];
  constexpr HexTable() : value() {
    for (int i = 0; i < 256; ++i) value[i] = -1;
    for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<signed char>(i);
    for (int i = 0; i < 6; ++i) {
      value['a' + i] = static_cast<signed char>(10 + i);
      value['A' + i] = static_cast<signed char>(10 + i);
    }
  }
};
constexpr HexTable kHexValue;

// Reads `count` hex digits; false when any is missing.
bool readHex(const char*& p, const char* end, int count, uint64_t& value) {
  if (end - p < count) return false;
  uint64_t v = 0;
  for (int i = 0; i < count; ++i) {
    int d = kHexValue.value[static_cast<unsigned char>(p[i])];
    if (d < 0) return false;
    v = v << 4 | static_cast<uint64_t>(d);
  }
  p += count;
  value = v;
  return true;
}

void skipBlanks(const char*& p, const char* end) {
  while (p != end && (*p == ' ' || *p == '\t')) ++p;
}

// Decodes one UTF-8 sequence starting at p (a lead byte >= 0x80); 0 when invalid.
size_t utf8Sequence(const char* p, const char* end, uint32_t& cp) {
  unsigned char b = static_cast<unsigned char>(*p);
  size_t n;
  uint32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2, cp = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3, cp = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (static_cast<size_t>(end - p) < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// Reads a quoted text; `out` may be null to validate only.
bool lexQuoted(const char*& p, const char* end, std::wstring* out, const wchar_t*& why) {
  if (p == end || *p != '"') {
    why = L"a quoted text was expected";
    return false;
  }
  ++p;
  if (!out) {
    // Names and texts are mostly plain ASCII: validate those without the decoder.
    const char* q = p;
    while (q != end) {
      unsigned char c = static_cast<unsigned char>(*q);
      if (c == '"') {
        p = q + 1;
        return true;
      }
      if (c == '\\' || c < 0x20 || c >= 0x80) break;
      ++q;
    }
  }
  for (;;) {
    if (p == end) {
      why = L"the quoted text is not closed";
      return false;
    }
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"') {
      ++p;
      return true;
    }
    if (c == '\\') {
      ++p;
      if (p == end) {
        why = L"the quoted text is not closed";
        return false;
      }
      char e = *p++;
      uint64_t cp = 0;
      switch (e) {
        case '\\': cp = '\\'; break;
        case '"': cp = '"'; break;
        case 'n': cp = '\n'; break;
        case 'r': cp = '\r'; break;
        case 't': cp = '\t'; break;
        case 'u':
        case 'U':
          if (!readHex(p, end, e == 'u' ? 4 : 8, cp)) {
            why = L"bad \\u escape";
            return false;
          }
          break;
        default: why = L"unknown escape in quoted text"; return false;
      }
      if (out) out->push_back(static_cast<wchar_t>(cp));
      continue;
    }
    if (c < 0x80) {
      if (c < 0x20 && c != '\t') {
        why = L"control character in quoted text";
        return false;
      }
      if (out) out->push_back(static_cast<wchar_t>(c));
      ++p;
      continue;
    }
    uint32_t cp;
    size_t n = utf8Sequence(p, end, cp);
    if (n == 0) {
      why = L"invalid UTF-8 in quoted text";
      return false;
    }
    if (out) out->push_back(static_cast<wchar_t>(cp));
    p += n;
  }
}

void appendQuoted(std::wstring_view textIn, std::string& out) {
  out += '"';
  for (wchar_t w : textIn) {
    uint32_t c = static_cast<uint32_t>(w);
    switch (c) {
      case '\\': out += "\\\\"; continue;
      case '"': out += "\\\""; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F || (c >= 0xD800 && c <= 0xDFFF)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 15];
    } else if (c > 0x10FFFF) {
      out += "\\U";
      for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 15];
    } else {
      text::appendToUtf8(std::wstring_view(&w, 1), out);
    }
  }
  out += '"';
}

void appendHexBytes(std::string_view data, std::string& out) {
  out += "hex:";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i) out += ',';
    unsigned char b = static_cast<unsigned char>(data[i]);
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
}

void appendTypeToken(uint32_t type, std::string& out) {
  if (const char* name = typeName(type)) {
    out += name;
    return;
  }
  out += "type:";
  bool started = false;
  for (int shift = 28; shift >= 0; shift -= 4) {
    unsigned d = (type >> shift) & 15;
    if (d || started || shift == 0) {
      out += kHex[d];
      started = true;
    }
  }
}

bool lexType(const char*& p, const char* end, uint32_t& type, const wchar_t*& why) {
  // The token ends at the next blank (found with memchr: this runs for every line).
  const char* start = p;
  const char* space = static_cast<const char*>(std::memchr(p, ' ', static_cast<size_t>(end - p)));
  p = space ? space : end;
  if (const char* tab = static_cast<const char*>(std::memchr(start, '\t', static_cast<size_t>(p - start)))) p = tab;
  size_t n = static_cast<size_t>(p - start);
  // The spellings the writer uses, without building views.
  const char* known = nullptr;
  uint32_t knownType = 0;
  switch (n) {
    case 6: known = "REG_SZ", knownType = REG_SZ; break;
    case 8: known = "REG_NONE", knownType = REG_NONE; break;
    case 9:
      if (start[4] == 'D')
        known = "REG_DWORD", knownType = REG_DWORD;
      else
        known = "REG_QWORD", knownType = REG_QWORD;
      break;
    case 10: known = "REG_BINARY", knownType = REG_BINARY; break;
    case 12: known = "REG_MULTI_SZ", knownType = REG_MULTI_SZ; break;
    case 13: known = "REG_EXPAND_SZ", knownType = REG_EXPAND_SZ; break;
    default: break;
  }
  if (known && std::memcmp(start, known, n) == 0) {
    type = knownType;
    return true;
  }
  std::string_view token(start, n);
  if (n > 5 && token.substr(0, 5) == "type:") {
    const char* q = start + 5;
    uint64_t v = 0;
    size_t digits = n - 5;
    if (digits <= 8 && readHex(q, p, static_cast<int>(digits), v)) {
      type = static_cast<uint32_t>(v);
      return true;
    }
  } else if (auto known = typeFromName(token)) {
    type = *known;
    return true;
  }
  why = L"unknown value type";
  return false;
}

// Reads the data token of a value of `type`; `out` may be null to validate only.
bool lexData(uint32_t type, const char*& p, const char* end, std::string* out, const wchar_t*& why) {
  if (end - p >= 4 && std::memcmp(p, "hex:", 4) == 0) {
    p += 4;
    bool first = true;
    while (p != end && *p != ' ' && *p != '\t') {
      if (!first) {
        if (*p != ',') break;
        ++p;
      }
      uint64_t b;
      if (!readHex(p, end, 2, b)) {
        why = L"bad hex byte";
        return false;
      }
      if (out) out->push_back(static_cast<char>(b));
      first = false;
    }
    return true;
  }
  if (p != end && *p == '"') {
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      why = L"quoted text for a value that is no string";
      return false;
    }
    std::wstring textValue;
    if (!lexQuoted(p, end, out ? &textValue : nullptr, why)) return false;
    if (out) *out = encodeString(textValue);
    return true;
  }
  if (p != end && *p == '[') {
    if (type != REG_MULTI_SZ) {
      why = L"a list of texts for a value that is no REG_MULTI_SZ";
      return false;
    }
    ++p;
    std::vector<std::wstring> items;
    skipBlanks(p, end);
    if (p != end && *p == ']') {
      ++p;
    } else {
      for (;;) {
        std::wstring item;
        if (!lexQuoted(p, end, out ? &item : nullptr, why)) return false;
        if (out) items.push_back(std::move(item));
        skipBlanks(p, end);
        if (p != end && *p == ',') {
          ++p;
          skipBlanks(p, end);
          continue;
        }
        if (p != end && *p == ']') {
          ++p;
          break;
        }
        why = L"the list of texts is not closed";
        return false;
      }
    }
    if (out) *out = encodeMultiString(items);
    return true;
  }
  if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    int digits = type == REG_DWORD ? 8 : type == REG_QWORD ? 16 : 0;
    if (digits == 0) {
      why = L"a number for a value that is no REG_DWORD or REG_QWORD";
      return false;
    }
    p += 2;
    uint64_t v;
    if (!readHex(p, end, digits, v)) {
      why = type == REG_DWORD ? L"a REG_DWORD needs 8 hex digits" : L"a REG_QWORD needs 16 hex digits";
      return false;
    }
    if (out) *out = type == REG_DWORD ? encodeDword(static_cast<uint32_t>(v)) : encodeQword(v);
    return true;
  }
  why = L"bad value data";
  return false;
}

// A line's content without its line feed, a carriage return before it and trailing blanks.
const char* trimmedEnd(const char* begin, const char* end) {
  while (end != begin && (end[-1] == '\r' || end[-1] == ' ' || end[-1] == '\t')) --end;
  return end;
}

bool ignorable(const char* begin, const char* end) {
  const char* p = begin;
  skipBlanks(p, end);
  return p == end || *p == '#';
}

}  // namespace

KeyFile::KeyFile(std::wstring name) : name_(std::move(name)) {
  text_ = kHeader;
  text_ += "\nkey ";
  appendQuoted(name_, text_);
  text_ += '\n';
  endLine_ = text_.size();
  text_ += "end\n";
}

bool KeyFile::parseName(std::string_view textIn, std::wstring& name) {
  const char* p = textIn.data();
  const char* end = p + textIn.size();
  const char* nl = static_cast<const char*>(std::memchr(p, '\n', textIn.size()));
  if (!nl || std::string_view(p, static_cast<size_t>(trimmedEnd(p, nl) - p)) != kHeader) return false;
  p = nl + 1;
  while (p != end) {
    const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!lineEnd) lineEnd = end;
    const char* contentEnd = trimmedEnd(p, lineEnd);
    if (!ignorable(p, contentEnd)) {
      if (contentEnd - p < 4 || std::memcmp(p, "key ", 4) != 0) return false;
      const char* q = p + 4;
      skipBlanks(q, contentEnd);
      const wchar_t* why = nullptr;
      std::wstring parsed;
      if (!lexQuoted(q, contentEnd, &parsed, why) || q != contentEnd) return false;
      name = std::move(parsed);
      return true;
    }
    p = lineEnd == end ? end : lineEnd + 1;
  }
  return false;
}

bool KeyFile::parse(std::string textIn, KeyFile& out, KeyFileError& error, Check check) {
  KeyFile result;
  result.text_ = std::move(textIn);
  result.entries_.reserve(result.text_.size() / 24 + 4);
  const char* base = result.text_.data();
  const char* end = base + result.text_.size();
  const char* p = base;
  enum class State { Header, Name, Values, AfterEnd } state = State::Header;
  uint32_t lineNo = 0;
  const wchar_t* why = nullptr;
  auto fail = [&](const wchar_t* reason) {
    error.line = lineNo;
    error.reason = reason;
    return false;
  };
  while (p != end) {
    ++lineNo;
    const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* next = lineEnd ? lineEnd + 1 : end;
    if (!lineEnd) lineEnd = end;
    const char* contentEnd = trimmedEnd(p, lineEnd);
    if (state == State::Header) {
      if (std::string_view(p, static_cast<size_t>(contentEnd - p)) != kHeader)
        return fail(L"not a registry key file (bad first line)");
      state = State::Name;
    } else if (ignorable(p, contentEnd)) {
      // blank or comment
    } else if (state == State::Name) {
      if (contentEnd - p < 4 || std::memcmp(p, "key ", 4) != 0) return fail(L"the key line is missing");
      const char* q = p + 4;
      skipBlanks(q, contentEnd);
      if (!lexQuoted(q, contentEnd, &result.name_, why)) return fail(why);
      if (q != contentEnd) return fail(L"unexpected text after the key name");
      state = State::Values;
    } else if (state == State::AfterEnd) {
      return fail(L"text after the end line");
    } else if (std::string_view(p, static_cast<size_t>(contentEnd - p)) == "end") {
      result.endLine_ = static_cast<size_t>(p - base);
      state = State::AfterEnd;
    } else {
      Entry e;
      e.lineBegin = static_cast<size_t>(p - base);
      e.lineEnd = static_cast<size_t>(next - base);
      const char* q = p;
      e.nameBegin = e.lineBegin;
      if (*q == '@') {
        ++q;
      } else if (!lexQuoted(q, contentEnd, nullptr, why)) {
        return fail(why);
      }
      e.nameEnd = static_cast<size_t>(q - base);
      if (q == contentEnd || (*q != ' ' && *q != '\t')) return fail(L"a value type was expected after the name");
      ++q;
      if (q != contentEnd && (*q == ' ' || *q == '\t')) skipBlanks(q, contentEnd);
      if (!lexType(q, contentEnd, e.type, why)) return fail(why);
      if (q != contentEnd) ++q;
      if (q != contentEnd && (*q == ' ' || *q == '\t')) skipBlanks(q, contentEnd);
      e.dataBegin = static_cast<size_t>(q - base);
      if (check == Check::Structure)
        q = contentEnd;
      else if (!lexData(e.type, q, contentEnd, nullptr, why))
        return fail(why);
      if (q != contentEnd) return fail(L"unexpected text after the value data");
      e.dataEnd = static_cast<size_t>(q - base);
      result.entries_.push_back(e);
    }
    p = next;
  }
  lineNo = 0;
  if (state == State::Header) return fail(L"the key file is empty");
  if (state != State::AfterEnd) return fail(L"the key file has no end line (truncated)");
  out = std::move(result);
  return true;
}

std::wstring KeyFile::entryName(const Entry& e) const {
  std::wstring name;
  if (text_[e.nameBegin] == '@') return name;
  const char* p = text_.data() + e.nameBegin;
  const wchar_t* why = nullptr;
  lexQuoted(p, text_.data() + e.nameEnd, &name, why);
  return name;
}

bool KeyFile::entryNamed(const Entry& e, std::wstring_view name, std::wstring& scratch) const {
  const char* p = text_.data() + e.nameBegin;
  if (*p == '@') return name.empty();
  // Compare plain ASCII names in place; anything else goes through the decoder. Folding
  // never maps a character outside ASCII to one inside it, so an ASCII byte against
  // another character is a difference.
  const char* q = p + 1;
  const char* close = text_.data() + e.nameEnd - 1;
  const wchar_t* n = name.data();
  const wchar_t* nEnd = n + name.size();
  for (; q != close; ++q, ++n) {
    unsigned char c = static_cast<unsigned char>(*q);
    if (c == '\\' || c >= 0x80) break;
    if (n == nEnd) return false;
    wchar_t w = *n;
    if (static_cast<wchar_t>(c) == w) continue;
    if (w >= 0x80 || foldCase(static_cast<wchar_t>(c)) != foldCase(w)) return false;
  }
  if (q == close) return n == nEnd;
  scratch.clear();
  const wchar_t* why = nullptr;
  lexQuoted(p, text_.data() + e.nameEnd, &scratch, why);
  return sameName(scratch, name);
}

Value KeyFile::value(size_t index) const {
  const Entry& e = entries_.at(index);
  Value v;
  v.name = entryName(e);
  v.type = e.type;
  const char* p = text_.data() + e.dataBegin;
  const wchar_t* why = nullptr;
  lexData(e.type, p, text_.data() + e.dataEnd, &v.data, why);
  return v;
}

std::vector<Value> KeyFile::values() const {
  std::vector<Value> out;
  out.reserve(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) out.push_back(value(i));
  return out;
}

bool KeyFile::find(std::wstring_view name, Value& out) const {
  std::wstring scratch;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entryNamed(entries_[i], name, scratch)) {
      out = value(i);
      return true;
    }
  return false;
}

bool KeyFile::contains(std::wstring_view name) const {
  std::wstring scratch;
  for (const Entry& e : entries_)
    if (entryNamed(e, name, scratch)) return true;
  return false;
}

std::string KeyFile::formatValueLine(const Value& v) {
  std::string line;
  if (v.name.empty())
    line += '@';
  else
    appendQuoted(v.name, line);
  line += ' ';
  appendTypeToken(v.type, line);
  line += ' ';
  std::wstring textValue;
  std::vector<std::wstring> items;
  if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && canonicalString(v.data, &textValue)) {
    appendQuoted(textValue, line);
  } else if (v.type == REG_MULTI_SZ && canonicalMultiString(v.data, &items)) {
    line += '[';
    for (size_t i = 0; i < items.size(); ++i) {
      if (i) line += ", ";
      appendQuoted(items[i], line);
    }
    line += ']';
  } else if ((v.type == REG_DWORD && v.data.size() == 4) || (v.type == REG_QWORD && v.data.size() == 8)) {
    line += "0x";
    for (size_t i = v.data.size(); i-- > 0;) {
      unsigned char b = static_cast<unsigned char>(v.data[i]);
      line += kHex[b >> 4];
      line += kHex[b & 15];
    }
  } else {
    appendHexBytes(v.data, line);
  }
  line += '\n';
  return line;
}

void KeyFile::replaceBytes(size_t begin, size_t end, std::string_view with) {
  text_.replace(begin, end - begin, with);
  ptrdiff_t delta = static_cast<ptrdiff_t>(with.size()) - static_cast<ptrdiff_t>(end - begin);
  auto shift = [&](size_t& offset) {
    if (offset >= end) offset = static_cast<size_t>(static_cast<ptrdiff_t>(offset) + delta);
  };
  for (Entry& e : entries_) {
    if (e.lineBegin < end) continue;
    shift(e.lineBegin);
    shift(e.lineEnd);
    shift(e.nameBegin);
    shift(e.nameEnd);
    shift(e.dataBegin);
    shift(e.dataEnd);
  }
  shift(endLine_);
}

namespace {

// Offsets of the tokens of a line that formatValueLine wrote at `begin`.
void indexFormattedLine(const std::string& textIn, size_t begin, size_t length, size_t& nameEnd,
                        size_t& dataBegin, size_t& dataEnd) {
  const char* base = textIn.data();
  const char* p = base + begin;
  const char* end = p + length - 1;  // without the line feed
  const wchar_t* why = nullptr;
  if (*p == '@')
    ++p;
  else
    lexQuoted(p, end, nullptr, why);
  nameEnd = static_cast<size_t>(p - base);
  ++p;
  while (*p != ' ') ++p;
  ++p;
  dataBegin = static_cast<size_t>(p - base);
  dataEnd = static_cast<size_t>(end - base);
}

}  // namespace

void KeyFile::set(const Value& v) {
  std::wstring scratch;
  const size_t count = entries_.size();
  const Entry* all = entries_.data();
  size_t found = count;
  for (size_t i = 0; i < count; ++i)
    if (entryNamed(all[i], v.name, scratch)) {
      found = i;
      break;
    }
  if (found == entries_.size()) {
    std::string line = formatValueLine(v);
    size_t at = endLine_;
    replaceBytes(at, at, line);
    Entry e;
    e.lineBegin = at;
    e.lineEnd = at + line.size();
    e.nameBegin = at;
    e.type = v.type;
    indexFormattedLine(text_, at, line.size(), e.nameEnd, e.dataBegin, e.dataEnd);
    entries_.push_back(e);
    return;
  }
  // The stored spelling of the name stays.
  Value named = v;
  named.name = entryName(entries_[found]);
  std::string line = formatValueLine(named);
  for (size_t i = entries_.size(); i-- > found + 1;)
    if (entryNamed(entries_[i], v.name, scratch)) {
      replaceBytes(entries_[i].lineBegin, entries_[i].lineEnd, {});
      entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(i));
    }
  Entry& e = entries_[found];
  replaceBytes(e.lineBegin, e.lineEnd, line);
  e.lineEnd = e.lineBegin + line.size();
  e.type = v.type;
  indexFormattedLine(text_, e.lineBegin, line.size(), e.nameEnd, e.dataBegin, e.dataEnd);
}

bool KeyFile::remove(std::wstring_view name) {
  std::wstring scratch;
  bool removed = false;
  for (size_t i = entries_.size(); i-- > 0;)
    if (entryNamed(entries_[i], name, scratch)) {
      replaceBytes(entries_[i].lineBegin, entries_[i].lineEnd, {});
      entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(i));
      removed = true;
    }
  return removed;
}

void KeyFile::removeAll() {
  for (size_t i = entries_.size(); i-- > 0;) {
    replaceBytes(entries_[i].lineBegin, entries_[i].lineEnd, {});
    entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(i));
  }
}

}  // namespace registry
