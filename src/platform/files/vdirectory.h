#pragma once
// Directories by path: existence, creation with parents, removal (empty, or a whole tree),
// copies of trees and symbolic-link tests. Failures raise the program's OS exception for
// the errno with the call's operation text (for example "RemoveDirectory '/a/b'"). Walks
// never follow a symbolic link: a link inside a tree is removed or copied as the link.

#include <string>

class VDirectory {
 public:
  // Whether `path` names a directory, following symbolic links (a link to a directory
  // counts).
  static bool exists(const std::wstring& path);
  // Whether the entry `path` itself is a symbolic link (the system's reparse point).
  static bool isSymlink(const std::wstring& path);

  // Creates `path` and its missing parents (mode 0755); a directory that exists already is
  // no failure. An empty name, or one holding a NUL character, raises ArgumentException
  // "Unable to create directory with wrong name"; a file in the way raises code 183
  // ("CreateDirectory").
  static void createDirectory(const std::wstring& path);
  // Removes the empty directory `path` ("RemoveDirectory"): code 145 when it is not
  // empty, 3 when it is missing.
  static void remove(const std::wstring& path);
  // Removes `path` with everything below it; a symbolic link (at the top or inside) is
  // removed itself, never what it points to. A missing path counts as removed. The first
  // failure raises ("RemoveDirectory" or "DeleteFile"); what was removed before stays
  // removed.
  static void removeTree(const std::wstring& path);
  // The same for the entry `name` of the open directory `parentFd`, reached without
  // following a link whatever the path above it; `path` names the entry in messages.
  static void removeTreeAt(int parentFd, const std::string& name, const std::wstring& path);
  // Copies the files of the directory `from` into `to` (created when missing), replacing
  // files of the same names; with `recursive` the subdirectories too. Symbolic links are
  // copied as links. Raises on the first failure ("CopyFile", "CreateDirectory", ...).
  static void copy(const std::wstring& from, const std::wstring& to, bool recursive);
};
