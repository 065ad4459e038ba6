#include "platform/registry/reg_file.h"

#include "platform/text/text_codec.h"

namespace registry {

namespace {

constexpr std::wstring_view kHeader5 = L"Windows Registry Editor Version 5.00";
constexpr std::wstring_view kHeader4 = L"REGEDIT4";
const char kHex[] = "0123456789abcdef";

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view trim(std::wstring_view s) {
  while (!s.empty() && (isBlank(s.front()) || s.front() == L'\r')) s.remove_prefix(1);
  while (!s.empty() && (isBlank(s.back()) || s.back() == L'\r')) s.remove_suffix(1);
  return s;
}

int hexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

std::wstring decodeFile(std::string_view bytes, bool& narrow) {
  narrow = false;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
    return text::fromUtf16le(bytes);
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return text::fromUtf8(bytes.substr(3));
  std::wstring wide = text::fromUtf8(bytes);
  // A REGEDIT4 file is in the narrow code page.
  size_t start = wide.find_first_not_of(L" \t\r\n");
  if (start != std::wstring::npos && wide.compare(start, kHeader4.size(), kHeader4) == 0) {
    narrow = true;
    return text::fromAnsi(bytes);
  }
  return wide;
}

class Parser {
 public:
  Parser(std::vector<RegFileChange>& out, RegFileError& error, bool narrow)
      : out_(out), error_(error), narrow_(narrow) {}

  bool run(std::wstring_view content);

 private:
  bool fail(uint32_t line, std::wstring reason) {
    error_.line = line;
    error_.reason = std::move(reason);
    return false;
  }
  bool keyLine(std::wstring_view line, uint32_t lineNo);
  bool valueLine(std::wstring_view line, uint32_t lineNo);
  bool quoted(std::wstring_view& s, std::wstring& out, uint32_t lineNo);
  bool hexList(std::wstring_view s, std::string& out, uint32_t lineNo);

  std::vector<RegFileChange>& out_;
  RegFileError& error_;
  bool narrow_;
  bool inKey_ = false;
  KeyPath key_;
};

bool Parser::quoted(std::wstring_view& s, std::wstring& out, uint32_t lineNo) {
  if (s.empty() || s.front() != L'"') return fail(lineNo, L"a quoted text was expected");
  size_t i = 1;
  for (;;) {
    if (i >= s.size()) return fail(lineNo, L"the quoted text is not closed");
    wchar_t c = s[i++];
    if (c == L'"') break;
    if (c != L'\\') {
      out += c;
      continue;
    }
    if (i >= s.size()) return fail(lineNo, L"the quoted text is not closed");
    wchar_t e = s[i++];
    switch (e) {
      case L'\\': out += L'\\'; break;
      case L'"': out += L'"'; break;
      case L'n': out += L'\n'; break;
      case L'r': out += L'\r'; break;
      case L't': out += L'\t'; break;
      default: return fail(lineNo, L"unknown escape \\" + std::wstring(1, e) + L" in quoted text");
    }
  }
  s.remove_prefix(i);
  return true;
}

bool Parser::hexList(std::wstring_view s, std::string& out, uint32_t lineNo) {
  size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && isBlank(s[i])) ++i;
  };
  skip();
  while (i < s.size()) {
    int hi = hexDigit(s[i]);
    if (hi < 0) return fail(lineNo, L"bad hex byte");
    int v = hi;
    ++i;
    if (i < s.size() && hexDigit(s[i]) >= 0) v = v * 16 + hexDigit(s[i++]);
    out.push_back(static_cast<char>(v));
    if (out.size() > kMaxValueSize) return fail(lineNo, L"the value is too large");
    skip();
    if (i == s.size()) break;
    if (s[i] != L',') return fail(lineNo, L"bad hex byte list");
    ++i;
    skip();  // a comma at the very end is accepted, as regedit does
  }
  return true;
}

bool Parser::keyLine(std::wstring_view line, uint32_t lineNo) {
  if (line.back() != L']') return fail(lineNo, L"the key name is not closed by ]");
  std::wstring_view name = line.substr(1, line.size() - 2);
  bool remove = !name.empty() && name.front() == L'-';
  if (remove) name.remove_prefix(1);
  KeyPath path;
  if (!splitRootedKeyName(name, path)) return fail(lineNo, L"the key must be below HKEY_LOCAL_MACHINE");
  for (const std::wstring& part : path)
    if (part.size() > kMaxKeyNameLength) return fail(lineNo, L"a key name is longer than 255 characters");
  RegFileChange change;
  change.line = lineNo;
  change.key = path;
  if (remove) {
    if (path.empty()) return fail(lineNo, L"the root key cannot be deleted");
    change.kind = RegFileChange::Kind::DeleteKey;
    inKey_ = false;
  } else {
    change.kind = RegFileChange::Kind::CreateKey;
    inKey_ = true;
    key_ = path;
  }
  out_.push_back(std::move(change));
  return true;
}

bool Parser::valueLine(std::wstring_view line, uint32_t lineNo) {
  if (!inKey_) return fail(lineNo, L"a value line outside a key section");
  RegFileChange change;
  change.line = lineNo;
  change.key = key_;
  std::wstring_view s = line;
  if (s.front() == L'@') {
    s.remove_prefix(1);
  } else if (!quoted(s, change.value.name, lineNo)) {
    return false;
  }
  if (change.value.name.size() > kMaxNameLength) return fail(lineNo, L"the value name is too long");
  s = trim(s);
  if (s.empty() || s.front() != L'=') return fail(lineNo, L"= was expected after the value name");
  s = trim(s.substr(1));
  if (s == L"-") {
    change.kind = RegFileChange::Kind::DeleteValue;
    out_.push_back(std::move(change));
    return true;
  }
  change.kind = RegFileChange::Kind::SetValue;
  Value& v = change.value;
  if (!s.empty() && s.front() == L'"') {
    std::wstring textValue;
    if (!quoted(s, textValue, lineNo)) return false;
    if (!trim(s).empty()) return fail(lineNo, L"unexpected text after the quoted text");
    v.type = REG_SZ;
    v.data = encodeString(textValue);
  } else if (s.substr(0, 6) == L"dword:") {
    std::wstring_view digits = s.substr(6);
    if (digits.empty() || digits.size() > 8) return fail(lineNo, L"dword: needs 1 to 8 hex digits");
    uint32_t number = 0;
    for (wchar_t c : digits) {
      int d = hexDigit(c);
      if (d < 0) return fail(lineNo, L"dword: needs 1 to 8 hex digits");
      number = number * 16 + static_cast<uint32_t>(d);
    }
    v.type = REG_DWORD;
    v.data = encodeDword(number);
  } else if (s.substr(0, 3) == L"hex") {
    s.remove_prefix(3);
    uint32_t type = REG_BINARY;
    if (!s.empty() && s.front() == L'(') {
      size_t close = s.find(L')');
      if (close == std::wstring_view::npos || close == 1 || close > 9) return fail(lineNo, L"bad hex(type)");
      type = 0;
      for (wchar_t c : s.substr(1, close - 1)) {
        int d = hexDigit(c);
        if (d < 0) return fail(lineNo, L"bad hex(type)");
        type = type * 16 + static_cast<uint32_t>(d);
      }
      s.remove_prefix(close + 1);
    }
    if (s.empty() || s.front() != L':') return fail(lineNo, L": was expected after hex");
    if (!hexList(s.substr(1), v.data, lineNo)) return false;
    v.type = type;
    if (narrow_ && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ))
      v.data = text::toUtf16le(text::fromAnsi(v.data));
  } else {
    return fail(lineNo, L"bad value data");
  }
  if (v.data.size() > kMaxValueSize) return fail(lineNo, L"the value is too large");
  out_.push_back(std::move(change));
  return true;
}

bool Parser::run(std::wstring_view content) {
  std::vector<std::wstring_view> lines;
  size_t start = 0;
  while (start <= content.size()) {
    size_t end = content.find(L'\n', start);
    if (end == std::wstring_view::npos) end = content.size();
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  bool headerSeen = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    uint32_t lineNo = static_cast<uint32_t>(i + 1);
    std::wstring_view line = trim(lines[i]);
    if (line.empty()) continue;
    if (!headerSeen) {
      if (line != kHeader5 && line != kHeader4)
        return fail(lineNo, L"not a registry file: the first line must be \"Windows Registry Editor Version 5.00\" or "
                            L"\"REGEDIT4\"");
      headerSeen = true;
      continue;
    }
    if (line.front() == L';') continue;
    if (line.front() == L'[') {
      if (!keyLine(line, lineNo)) return false;
      continue;
    }
    if (line.front() != L'"' && line.front() != L'@') return fail(lineNo, L"unrecognised line");
    std::wstring joined;
    bool continued = false;
    while (line.back() == L'\\' && i + 1 < lines.size()) {
      joined.append(line.substr(0, line.size() - 1));
      line = trim(lines[++i]);
      continued = true;
      if (line.empty()) break;
    }
    if (continued) {
      joined.append(line);
      if (!valueLine(joined, lineNo)) return false;
    } else if (!valueLine(line, lineNo)) {
      return false;
    }
  }
  if (!headerSeen) return fail(1, L"the file is empty");
  return true;
}

void appendQuoted(std::wstring_view s, std::string& out) {
  out += '"';
  for (wchar_t c : s) {
    switch (c) {
      case L'\\': out += "\\\\"; break;
      case L'"': out += "\\\""; break;
      case L'\n': out += "\\n"; break;
      case L'\r': out += "\\r"; break;
      case L'\t': out += "\\t"; break;
      default: text::appendToUtf8(std::wstring_view(&c, 1), out);
    }
  }
  out += '"';
}

bool plainText(std::wstring_view s) {
  for (wchar_t c : s)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

bool splitRootedKeyName(std::wstring_view name, KeyPath& path) {
  size_t slash = name.find(L'\\');
  std::wstring_view root = name.substr(0, slash);
  if (!sameName(root, L"HKEY_LOCAL_MACHINE") && !sameName(root, L"HKLM")) return false;
  path = slash == std::wstring_view::npos ? KeyPath{} : splitKeyPath(name.substr(slash + 1));
  return true;
}

bool parseRegFile(std::string_view bytes, std::vector<RegFileChange>& out, RegFileError& error) {
  std::vector<RegFileChange> changes;
  bool narrow = false;
  std::wstring content = decodeFile(bytes, narrow);
  Parser parser(changes, error, narrow);
  if (!parser.run(content)) return false;
  out = std::move(changes);
  return true;
}

RegFileWriter::RegFileWriter() { text_ = "Windows Registry Editor Version 5.00\n"; }

bool RegFileWriter::key(std::wstring_view fullName) {
  if (fullName.find_first_of(L"\r\n") != std::wstring_view::npos) return false;
  text_ += "\n[";
  text::appendToUtf8(fullName, text_);
  text_ += "]\n";
  return true;
}

void RegFileWriter::value(const Value& v) {
  size_t lineStart = text_.size();
  if (v.name.empty())
    text_ += '@';
  else
    appendQuoted(v.name, text_);
  text_ += '=';
  std::wstring textValue;
  if (v.type == REG_SZ && canonicalString(v.data, &textValue) && plainText(textValue)) {
    appendQuoted(textValue, text_);
    text_ += '\n';
    return;
  }
  if (v.type == REG_DWORD && v.data.size() == 4) {
    text_ += "dword:";
    for (size_t i = 4; i-- > 0;) {
      unsigned char b = static_cast<unsigned char>(v.data[i]);
      text_ += kHex[b >> 4];
      text_ += kHex[b & 15];
    }
    text_ += '\n';
    return;
  }
  text_ += "hex";
  if (v.type != REG_BINARY) {
    text_ += '(';
    bool started = false;
    for (int shift = 28; shift >= 0; shift -= 4) {
      unsigned d = (v.type >> shift) & 15;
      if (d || started || shift == 0) {
        text_ += kHex[d];
        started = true;
      }
    }
    text_ += ')';
  }
  text_ += ':';
  // Lines of at most 80 characters, continued with a backslash, as regedit writes them.
  size_t column = text_.size() - lineStart;
  for (size_t i = 0; i < v.data.size(); ++i) {
    bool last = i + 1 == v.data.size();
    size_t width = last ? 2 : 3;
    if (column + width > 77 && i > 0) {
      text_ += "\\\n  ";
      column = 2;
    }
    unsigned char b = static_cast<unsigned char>(v.data[i]);
    text_ += kHex[b >> 4];
    text_ += kHex[b & 15];
    if (!last) text_ += ',';
    column += width;
  }
  text_ += '\n';
}

}  // namespace registry
