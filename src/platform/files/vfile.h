#pragma once
// Files: an owned, unbuffered file handle (VFile) and the operations on files by path
// (status, copy, move, delete, temporary files, removeFile).
//
// Every failure raises the program's OS exception for the errno of the failed call (see
// vexception.h), with the call's operation text, for example
// "CreateFile '/var/log/a.log'", and a context record naming the helper. Descriptors are
// close-on-exec, so started programs never inherit them.
//
// Files opened for writing do not follow a symbolic link in the last component: the
// program runs with more rights than the owners of the trees it writes into, and a link
// planted there must not redirect a write to a file outside (the open fails with code 5).

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/dates/vdatetime.h"

// What the system knows of one directory entry, without following a symbolic link: a link
// is reported as itself (isSymlink, not a directory, its own size).
struct VFileStatus {
  bool exists = false;
  bool isDirectory = false;
  bool isSymlink = false;
  int64_t size = 0;
  VDateTime lastWriteTime;  // UTC
};

class VFile {
 public:
  enum class Mode {
    Read,          // an existing file, for reading
    ReadWrite,     // an existing file, for reading and writing
    CreateAlways,  // created or truncated, for writing
    CreateNew,     // created, for writing; an existing file raises code 80
    OpenAlways,    // opened or created, for writing, content kept
    Append,        // opened or created, every write goes to the end
  };
  enum class Origin { Begin, Current, End };

  VFile() = default;
  // Opens `path`; raises "CreateFile '<path>'" (operation "VFile::open"). A missing file
  // raises code 2, a missing directory on the way code 3, a directory code 5.
  VFile(const std::wstring& path, Mode mode);
  ~VFile();
  VFile(VFile&& other) noexcept;
  VFile& operator=(VFile&& other) noexcept;
  VFile(const VFile&) = delete;
  VFile& operator=(const VFile&) = delete;

  // Closes the current file (failures ignored) and opens `path`.
  void open(const std::wstring& path, Mode mode);
  bool isOpen() const { return fd_ >= 0; }
  const std::wstring& path() const { return path_; }

  // Reads up to `size` bytes; fewer only at the end of the file (0 there).
  size_t read(void* buffer, size_t size);
  // Writes all bytes or raises ("WriteFile"; a full disk is code 112).
  void write(const void* data, size_t size);
  void write(std::string_view bytes) { write(bytes.data(), bytes.size()); }
  // Moves the file position; returns the new position.
  int64_t seek(int64_t offset, Origin origin);
  int64_t position() const;
  int64_t size() const;
  VDateTime lastWriteTime() const;   // UTC
  VDateTime lastAccessTime() const;  // UTC
  // Makes the written data durable (fsync).
  void flush();
  // An exclusive advisory lock, not waiting; false when another open file holds a lock on
  // it. Released when the file is closed.
  bool tryLockExclusive();
  // Closes the file; a failure to close is raised ("CloseHandle"). Closing a closed file
  // does nothing.
  void close();
  int descriptor() const { return fd_; }

  // Whether anything exists under `path` (a dangling symbolic link counts).
  static bool exists(const std::wstring& path);
  // The entry at `path` itself; `exists` false when there is none. Other failures raise
  // ("GetFileAttributes").
  static VFileStatus status(const std::wstring& path);
  // The last-write time (UTC) of the file `path` names, following symbolic links.
  static VDateTime lastWriteTime(const std::wstring& path);
  // The whole content of a file.
  static std::string readAll(const std::wstring& path);

  // Copies the content, permission bits and times of the file `from` to `to`
  // ("CopyFile"). An existing `to` is replaced when `overwrite` is set (a symbolic link
  // there is replaced itself, its target is not written), otherwise raises code 80. A copy
  // that fails part-way is removed.
  static void copy(const std::wstring& from, const std::wstring& to, bool overwrite);
  // Renames `from` to `to` ("MoveFile"); an existing `to` raises code 183. A file moved
  // to another file system is copied and then deleted there; a directory cannot be moved
  // across file systems (code 17).
  static void move(const std::wstring& from, const std::wstring& to);
  // Deletes the file or symbolic link `path` ("DeleteFile"); a missing file raises code 2,
  // a directory code 5.
  static void remove(const std::wstring& path);
  // Creates a new empty file with a unique name `prefix` + six characters + ".tmp" in
  // `directory` (readable and writable by the owner only) and returns its path
  // ("GetTempFileName").
  static std::wstring createTemporary(const std::wstring& directory, const std::wstring& prefix);

 private:
  int fd_ = -1;
  std::wstring path_;
};

// Deletes the file `path`. A file that does not exist (nor its directory) counts as
// removed. Any other failure raises the OS error "DeleteFile '<path>'" (operation
// "removeFile") unless `force` is set; then the owner is given write permission on the
// file and write and search permission on its directory, and the deletion is tried once
// more, raising the same error when it fails again. A symbolic link is removed itself and
// its target's permissions are never changed.
void removeFile(const std::wstring& path, bool force);
