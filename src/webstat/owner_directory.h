#pragma once
// OwnerDirectory: an open directory in a tree that a domain's owner controls (a domain's
// statistics directory and what the program keeps there), worked on through its descriptor.
// The program has more rights than the owner, who may plant a symbolic link under any name
// or swap a directory for one at any moment: so every component below the administrator's
// root is opened without following a link, every entry is examined as itself, and every
// file is written as a new file of a random name renamed over the old one, never through
// whatever stands under the name. Paths are kept only for messages and for the generators,
// which take paths.
//
// Failures raise the program's OS exception for the errno of the failed call with the
// call's operation text and the entry's path (for example "CreateFile '/v/a/x'").

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system/unique_fd.h"

class OwnerDirectory {
 public:
  // Opens the administrator's directory `root` (following links there), then each of
  // `components` below it without following any; components from index `createFrom` on
  // are created (mode 0755) when missing. A component that is not a plain name (empty,
  // ".", "..", holding "/" or NUL) raises ArgumentException "Not a plain name: '<name>'".
  static OwnerDirectory open(const std::wstring& root, const std::vector<std::wstring>& components,
                             size_t createFrom);

  OwnerDirectory(OwnerDirectory&&) noexcept = default;
  OwnerDirectory& operator=(OwnerDirectory&&) noexcept = default;

  const std::wstring& path() const { return path_; }
  int fd() const { return fd_.get(); }
  // path() + "/" + name
  std::wstring pathOf(std::wstring_view name) const;

  // The entry `name` as it is (a link as a link); nullopt when there is none.
  std::optional<struct stat> status(std::wstring_view name) const;
  bool isSymlink(std::wstring_view name) const;
  bool isDirectory(std::wstring_view name) const;  // a real directory, not a link to one

  // The subdirectory `name`, opened without following a link; created when missing and
  // `create` is set.
  OwnerDirectory child(std::wstring_view name, bool create) const;

  // Creates an empty file `name` unless an entry of that name exists.
  void touch(std::wstring_view name) const;
  // Deletes the entry `name` (a file or link; a missing one counts as deleted).
  void removeFile(std::wstring_view name) const;
  // Deletes the entry `name` with everything below it, never following a link.
  void removeTree(std::wstring_view name) const;

  // Makes `name` a copy of the file `sourcePath` (the administrator's: content, mode and times),
  // replacing any entry of that name that is not a directory.
  void copyFileFrom(const std::wstring& sourcePath, std::wstring_view name) const;
  // Makes `name` a file holding `bytes` (mode 0644), replacing as copyFileFrom does.
  void writeFile(std::wstring_view name, std::string_view bytes) const;
  // Copies the files of the administrator's directory `sourcePath` into the subdirectory
  // `name` (created when missing); with `recursive` its subdirectories too. Links in the
  // source are left out, as are files for which `skip` (when given) says so.
  void copyDirectoryFrom(const std::wstring& sourcePath, std::wstring_view name, bool recursive,
                         const std::function<bool(std::wstring_view fileName)>& skip = {}) const;

  // Renames the entry `from` to `to` unless an entry `to` exists. 0, or the errno of the
  // failure (EEXIST when `to` exists; nothing changed then).
  int renameNoReplace(std::wstring_view from, std::wstring_view to) const;
  // Gives the directory mode `directoryMode` and each regular file directly in it that has
  // no other name `fileMode`.
  void setPermissions(mode_t directoryMode, mode_t fileMode) const;

 private:
  OwnerDirectory(UniqueFd fd, std::wstring path) : fd_(std::move(fd)), path_(std::move(path)) {}
  void replaceWith(std::wstring_view name, const std::function<void(int fd)>& fill, mode_t mode) const;

  UniqueFd fd_;
  std::wstring path_;
};

// Whether `name` can stand for one entry of a directory: not empty, not "." or "..", no
// "/" and no NUL.
bool isPlainFileName(std::wstring_view name);
