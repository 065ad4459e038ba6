#pragma once
// File names: path combination, name parts, wildcard masks, the conversion between the
// program's wide paths and the bytes the system calls take, and environment expansion.
// Paths use "/" as the separator. Nothing here touches the file system.

#include <string>
#include <string_view>

class VFileName {
 public:
  // Replaces every %NAME% reference with the environment variable's value; unknown names
  // stay as written ("%NAME%"), as does a lone "%".
  static std::wstring expandEnvironmentStrings(const std::wstring& textIn);

  // `directory` + "/" + `name` with exactly one separator between them; an empty side
  // gives the other one unchanged.
  static std::wstring combine(std::wstring_view directory, std::wstring_view name);
  // The last component: "/a/b.log" -> "b.log"; a path ending in "/" has an empty name.
  static std::wstring fileName(std::wstring_view path);
  // The extension of the last component from its last dot, dot included ("b.log" ->
  // ".log"); empty when that component has no dot.
  static std::wstring extension(std::wstring_view path);
  // The last component without its extension ("b.tar.gz" -> "b.tar").
  static std::wstring stem(std::wstring_view path);
  // Everything before the last component, without the separator: "/a/b" -> "/a",
  // "/b" -> "/", "b" -> "". Trailing separators are removed first.
  static std::wstring directory(std::wstring_view path);
  // The path without trailing "/" and "\" characters (a root "/" stays "/").
  static std::wstring withoutTrailingSeparators(std::wstring_view path);

  // Whether `name` matches the wildcard `mask`: "*" any run of characters, "?" exactly one;
  // letters compare without regard to case. As on the system this stands in for, a mask
  // ending in ".*" also matches names without a dot, so "*.*" matches every name.
  static bool matchesMask(std::wstring_view name, std::wstring_view mask);

  // Wide path -> the bytes of the system call, in the system code page. Bytes that the code
  // page could not decode when the name was read (see fromNative) come back unchanged, so
  // every name read from a directory can be opened again.
  static std::string toNative(std::wstring_view path);
  // System bytes -> wide path. In a UTF-8 code page each byte that is not part of a valid
  // sequence becomes U+DC80 + byte (U+DC80..U+DCFF, never produced otherwise), which
  // toNative turns back into that byte; texts shown to people print it as U+FFFD.
  static std::wstring fromNative(std::string_view bytes);
};
