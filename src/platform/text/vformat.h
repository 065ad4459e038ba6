#pragma once
// The formatted wide string used for every message with placeholders. It takes the printf
// forms the program writes, with Windows meanings: "%s" takes a wide string, "%d", "%ld" and
// "%u" are 32-bit, "%I64d" and "%lld" are 64-bit, plus "%X", "%08X", "%02d", "%c", "%f" and "%%".
// Arguments are type-checked at the call: strings must be wide.
//
// Like the system's growing-buffer formatter it stands in for, a result that does not fit
// into 6,553,600 characters (the last of the doubling buffers, 100 characters at first)
// is replaced by "Error on try call vaformat".

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace vfmt {

inline constexpr size_t kFirstBuffer = 100;
inline constexpr size_t kLastBuffer = 6553600;
inline constexpr std::wstring_view kOverflowText = L"Error on try call vaformat";

class Arg {
 public:
  enum class Kind { Signed, Unsigned, Text, Char, Real, Pointer };

  template <typename T>
    requires(std::is_integral_v<T> && std::is_signed_v<T> && !std::is_same_v<T, wchar_t> &&
             !std::is_same_v<T, char>)
  Arg(T v) : kind_(Kind::Signed), i_(static_cast<int64_t>(v)) {}
  template <typename T>
    requires(std::is_integral_v<T> && std::is_unsigned_v<T> && !std::is_same_v<T, bool>)
  Arg(T v) : kind_(Kind::Unsigned), u_(static_cast<uint64_t>(v)) {}
  Arg(bool v) : kind_(Kind::Signed), i_(v ? 1 : 0) {}
  Arg(wchar_t c) : kind_(Kind::Char), u_(static_cast<uint64_t>(static_cast<uint32_t>(c))) {}
  Arg(double v) : kind_(Kind::Real), d_(v) {}
  Arg(const wchar_t* s) : kind_(Kind::Text), s_(s ? std::wstring_view(s) : std::wstring_view(L"(null)")) {}
  Arg(const std::wstring& s) : kind_(Kind::Text), s_(s) {}
  Arg(std::wstring_view s) : kind_(Kind::Text), s_(s) {}
  Arg(const void* p) : kind_(Kind::Pointer), u_(reinterpret_cast<uintptr_t>(p)) {}
  // Narrow text must be converted explicitly: its encoding is not known here.
  Arg(const char*) = delete;
  Arg(const std::string&) = delete;

  Kind kind() const { return kind_; }
  int64_t asSigned() const;
  uint64_t asUnsigned() const;
  double asReal() const;
  std::wstring_view text() const { return s_; }

 private:
  Kind kind_;
  union {
    int64_t i_;
    uint64_t u_;
    double d_;
  };
  std::wstring_view s_;
};

// Formats `format` with `args`. Never throws for a bad format or a missing argument
// (a missing argument formats as 0 or as the empty text); a failed allocation throws.
std::wstring formatArgs(std::wstring_view format, std::initializer_list<Arg> args);

}  // namespace vfmt

template <typename... A>
std::wstring vformat(std::wstring_view format, const A&... args) {
  return vfmt::formatArgs(format, {vfmt::Arg(args)...});
}
