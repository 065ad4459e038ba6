#pragma once
// Conversions between the program's wide text and the byte encodings it meets at its edges:
// UTF-8 (console, MySQL wire, service settings), the narrow system code page (log files,
// generator files) and UTF-16LE files. None of them fails on arbitrary input: invalid
// bytes decode to U+FFFD, characters a narrow set cannot hold encode as '?'.

#include <string>
#include <string_view>

namespace text {

inline constexpr wchar_t kReplacement = L'\uFFFD';

// UTF-8 -> wide. Each maximal invalid subsequence becomes one U+FFFD.
std::wstring fromUtf8(std::string_view bytes);
// Appends the decoded text to `out`, reusing its capacity (the hot paths keep one buffer).
void appendFromUtf8(std::string_view bytes, std::wstring& out);
// Copies the leading ASCII characters of wide[0, n) to `out` as bytes and returns how many
// there were (n when all of them are).
size_t copyAsciiRun(const wchar_t* wide, size_t n, char* out);
// Wide -> UTF-8. Surrogate code points and values above U+10FFFF encode as U+FFFD.
std::string toUtf8(std::wstring_view wide);
void appendToUtf8(std::wstring_view wide, std::string& out);

// The narrow system code page: the character set of the process locale
// (nl_langinfo(CODESET)); the C/POSIX locale counts as UTF-8.
std::wstring fromAnsi(std::string_view bytes);
void appendFromAnsi(std::string_view bytes, std::wstring& out);
std::string toAnsi(std::wstring_view wide);

// A narrow character set given by name ("UTF-8", "ISO-8859-1", "CP1251", ...).
// Sets other than UTF-8 and ASCII go through iconv, one character at a time on failure.
class NarrowCodec {
 public:
  explicit NarrowCodec(std::string codeset);
  // The codec of the process locale, computed once per call.
  static NarrowCodec system();

  const std::string& codeset() const { return codeset_; }
  bool isUtf8() const { return kind_ == Kind::Utf8; }
  // True when every ASCII character is one byte of the same value in this set, so text of
  // ASCII characters needs no conversion.
  bool keepsAscii() const { return kind_ != Kind::Iconv; }

  void appendDecoded(std::string_view bytes, std::wstring& out) const;
  std::wstring decode(std::string_view bytes) const;
  std::string encode(std::wstring_view wide) const;
  // Appends the encoded text to `out`, reusing its capacity. UTF-8, ASCII and Latin-1 never
  // allocate beyond that; other sets open an iconv descriptor per call.
  void appendEncoded(std::wstring_view wide, std::string& out) const;

 private:
  enum class Kind { Utf8, Ascii, Latin1, Iconv };
  std::string codeset_;
  Kind kind_;
};

// UTF-16 little endian bytes -> wide. A leading byte-order mark is dropped, surrogate pairs
// are joined, unpaired surrogates and an odd trailing byte become U+FFFD.
std::wstring fromUtf16le(std::string_view bytes);
// Wide -> UTF-16 little endian bytes, without a byte-order mark.
std::string toUtf16le(std::wstring_view wide);

// Lower/upper case of wide text in the C++ "C" sense extended to Latin letters,
// as the program uses for names that compare without regard to case.
std::wstring toLower(std::wstring_view text);
// The same into `out`, reusing its capacity (for paths that must not allocate per line).
void assignLower(std::wstring_view text, std::wstring& out);
std::wstring toUpper(std::wstring_view text);
bool equalsNoCase(std::wstring_view a, std::wstring_view b);
// One character of toLower.
wchar_t toLowerChar(wchar_t c);
// Orders texts as their toLower forms would be ordered, without building them: a map keyed
// by lower-cased names finds any spelling of a name with no allocation.
struct LessNoCase {
  using is_transparent = void;
  bool operator()(std::wstring_view a, std::wstring_view b) const;
};

}  // namespace text
