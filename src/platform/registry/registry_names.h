#pragma once
// Names in the registry store: case folding, key paths, and the directory name that holds
// a key on disk.
//
// Case folding is fixed (it does not follow the process locale, so that every process
// maps a name to the same directory): ASCII, Latin-1, Latin Extended-A, Greek and
// Cyrillic capitals fold to their small letters.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace registry {

wchar_t foldCase(wchar_t c);
std::wstring foldCase(std::wstring_view name);
// Names compare without regard to case, by foldCase.
bool sameName(std::wstring_view a, std::wstring_view b);

// A key path below HKEY_LOCAL_MACHINE as its components ("SOFTWARE\\Cadro" -> {SOFTWARE,
// Cadro}); empty components (doubled, leading or trailing backslashes) are dropped.
using KeyPath = std::vector<std::wstring>;
KeyPath splitKeyPath(std::wstring_view path);
std::wstring joinKeyPath(const KeyPath& path);

// The directory of a key name: the folded name in UTF-8 with '/', '%', '~', control
// characters, DEL and a leading '.' written as %XX (and characters that are no Unicode
// scalar value as %UXXXXXXXX). An encoding longer than 200 bytes keeps its first bytes and
// ends in '~' and 16 hex digits of a hash of the whole encoding. Names beginning with '.'
// therefore never name a key: the store keeps its own files under such names.
std::string directoryNameOf(std::wstring_view keyName);
// The folded key name of a directory name; nullopt for hashed names and for names that
// directoryNameOf does not produce (those are no keys).
std::optional<std::wstring> keyNameOfDirectory(std::string_view directoryName);
// True for a directory name that directoryNameOf produced by hashing.
bool isHashedDirectoryName(std::string_view directoryName);

}  // namespace registry
