#pragma once
// What gives a class of the program its control-panel database connection: the
// process-wide CDRDatabase, or a connection named at construction (tests, or a task that
// runs on a connection of its own). Meant as a virtual base, so that every part of the
// application object reaches the one connection.

#include "db/cdr_database.h"

namespace Statistics {

class DBClientClass {
 public:
  // Uses the process-wide connection, looked up at each use.
  DBClientClass() = default;
  // Uses `database`, which must outlive the object.
  explicit DBClientClass(CDRDatabase& database) : database_(&database) {}

  // The connection; throws as CDRDatabase::shared() when the process-wide one is missing.
  CDRDatabase& database() const { return database_ ? *database_ : CDRDatabase::shared(); }

 private:
  CDRDatabase* database_ = nullptr;
};

}  // namespace Statistics
