#pragma once
// Registry values as they are stored: a name, a type and the exact bytes, so that the
// sizes of every type are those the readers check (a REG_SZ is UTF-16LE text with its
// terminating NUL, a REG_DWORD four bytes little endian, and so on).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace registry {

// Longest value name, in characters.
inline constexpr size_t kMaxNameLength = 16383;
// Longest key name component, in characters: a longer one is refused with
// ERROR_INVALID_PARAMETER (87) when it would be created, as the system's registry does.
inline constexpr size_t kMaxKeyNameLength = 255;
// Largest value, in bytes.
inline constexpr size_t kMaxValueSize = 16u << 20;

struct Value {
  std::wstring name;  // empty: the key's default value
  uint32_t type = REG_NONE;
  std::string data;   // the stored bytes
};

// UTF-16LE text with its terminating NUL (REG_SZ, REG_EXPAND_SZ).
std::string encodeString(std::wstring_view text);
// Each item with its NUL, then one more NUL (REG_MULTI_SZ).
std::string encodeMultiString(const std::vector<std::wstring>& items);
std::string encodeDword(uint32_t value);
std::string encodeQword(uint64_t value);

// The text of string data: UTF-16LE up to the first NUL; an odd trailing byte is ignored.
std::wstring decodeString(std::string_view data);
// The items of multi-string data: split at each NUL until an empty item.
std::vector<std::wstring> decodeMultiString(std::string_view data);

// True when `data` is exactly encodeString(text) for some text (stored in *text when given).
bool canonicalString(std::string_view data, std::wstring* text);
// True when `data` is exactly encodeMultiString(items) for non-empty items.
bool canonicalMultiString(std::string_view data, std::vector<std::wstring>* items);

// "REG_SZ", "REG_DWORD", ... for the seven types the program knows, nullptr otherwise.
const char* typeName(uint32_t type);
// The type of one of those names (case-insensitive).
std::optional<uint32_t> typeFromName(std::string_view name);

}  // namespace registry
