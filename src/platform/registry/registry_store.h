#pragma once
// The registry store: the keys of HKEY_LOCAL_MACHINE as directories under <system
// root>/registry/hklm, one small text file (".key", registry_key_file.h) per key holding
// its name and values. A directory is named by the folded key name (registry_names.h),
// so finding a key without regard to case is one directory lookup per path component.
// docs/registry.md describes the layout, the locking and the crash safety.
//
// - A key exists when its directory exists. A key without values needs no ".key" file
//   when its name has no capitals; other keys are created complete (built under a hidden
//   name and renamed into place), so a key never appears without its spelling. A key name
//   component longer than 255 characters is never created (87, as on the system).
// - A change of a key's values is a read-modify-write under an exclusive flock of the
//   key's directory; the new text is written to ".key.tmp", flushed, renamed over ".key"
//   and the directory flushed. Readers take no lock: they see the old or the new file.
// - Deleting a tree renames it into registry/.trash first (the key vanishes at once),
//   then removes it; trees left there by a process that died are removed later, and so
//   are the hidden sub-keys that a process died building (when the key's sub-keys are
//   listed, under the key's lock).
// - A damaged ".key" file makes that key fail with ERROR_REGISTRY_CORRUPT (1015) and a
//   text that names the file and the line; other keys are not affected. Damage is never
//   overwritten: a file whose structure is broken (truncated, garbage) refuses changes,
//   and a change of one value keeps another value's damaged line as it is.
//
// Flushing (fsync) can be turned off for a process with CADRO_REGISTRY_SYNC=0: writes
// stay atomic, but the last of them may be lost when the machine (not the process) fails.
//
// Results are Windows error codes (0 success, 2 a missing key, ...), with a detail text
// for the operator where the code alone does not say what went wrong.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry/registry_fs.h"
#include "platform/registry/registry_key_file.h"
#include "platform/registry/registry_names.h"
#include "platform/report/vexception.h"

namespace registry {

inline constexpr uint32_t kErrorRegistryCorrupt = winerr::kRegistryCorrupt;
inline constexpr uint32_t kErrorKeyDeleted = winerr::kKeyDeleted;

struct StoreStatus {
  uint32_t code = 0;
  std::wstring detail;  // for the operator; may be empty

  bool ok() const { return code == 0; }
  static StoreStatus success() { return {}; }
};

class RegistryStore {
 public:
  // A store in `directory` (the store's own directory, normally <system root>/registry).
  explicit RegistryStore(std::string directory);
  // The store of the current system root.
  static RegistryStore system();

  const std::string& directory() const { return directory_; }
  bool syncEnabled() const { return sync_; }

  // Creates the key and every missing key above it; success when it exists already.
  StoreStatus createKey(const KeyPath& path);
  // Success when the key exists, 2 when it does not.
  StoreStatus keyExists(const KeyPath& path) const;
  // The key's name and values.
  StoreStatus readKey(const KeyPath& path, KeyFile& out) const;
  // Read-modify-write of one key under its lock. `change` edits the key; when it fails
  // nothing is written. With `createMissing` a missing key (and the keys above it) is
  // created first, otherwise a missing key gives 2.
  StoreStatus updateKey(const KeyPath& path, bool createMissing,
                        const std::function<StoreStatus(KeyFile&)>& change);
  // The names of the key's sub-keys in the spelling they were created with, sorted
  // without regard to case. Hidden sub-keys that a process died building are removed on
  // the way, under the key's lock (when it is free).
  StoreStatus listSubKeys(const KeyPath& path, std::vector<std::wstring>& names) const;
  // Removes the key with its sub-keys and values; 2 when it does not exist. The root
  // itself cannot be deleted (5).
  StoreStatus deleteTree(const KeyPath& path);

  // The file that holds a key (for messages).
  std::string keyFilePath(const KeyPath& path) const;

 private:
  StoreStatus openKey(const KeyPath& path, bool create, fs::Fd& out) const;
  StoreStatus makeKeyDirectory(int parentFd, const std::wstring& name, const std::string& dirName) const;
  StoreStatus loadKeyFile(int keyFd, const KeyPath& path, KeyFile& out, KeyFile::Check check) const;
  StoreStatus errnoStatus(int err, const KeyPath& path) const;

  std::string directory_;
  bool sync_ = true;
};

}  // namespace registry
