#pragma once
// Jet files for tests: a SQLite database file in a temporary directory, which also serves
// as the product root (its admin/db directory receives TEMP and TMP on connect).

#include <memory>
#include <string>

#include "db/jet_provider.h"
#include "testing/temp_dir.h"

namespace testing_support {

// Creates the database file at `path`: empty, or with the control-panel schema.
void createJetFile(const std::string& path, bool withSchema);

class JetTestDatabase {
 public:
  explicit JetTestDatabase(bool withSchema = false);

  const std::string& path() const { return path_; }
  const std::string& productRoot() const { return dir_.path(); }
  // A new Jet provider connected to the file.
  std::unique_ptr<JetDatabaseProvider> connect() const;

 private:
  TempDir dir_;
  std::string path_;
};

}  // namespace testing_support
