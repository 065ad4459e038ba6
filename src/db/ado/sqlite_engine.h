#pragma once
// The engine of "Microsoft.Jet.OLEDB.4.0": the Jet file is a SQLite database file, named
// by "Data Source". It must exist (the engine never creates one, as Jet does not);
// "Mode=Read" opens it read-only. Statements go through rewriteForSqlite (jet_sql.h) and
// may use the Jet functions of jet_functions.h; one statement per call, as Jet runs them.
//
// Several processes may use the file at once: a statement that meets another
// connection's lock waits for it up to the command time-out (the connection time-out
// while opening) before it fails with "database is locked". Transactions take the write
// lock when they begin (BEGIN IMMEDIATE), so that two writers queue up instead of one of
// them failing in the middle; inner levels are savepoints.
//
// Connection properties: "Jet OLEDB:Transaction Commit Mode" (1: every commit reaches the
// disk before it returns, SQLite's synchronous FULL; 0: NORMAL) and "Jet OLEDB:Implicit
// Commit Sync" (accepted: a statement outside a transaction commits like any other).

#include <memory>

#include "db/ado/engine.h"

namespace ado {

class JetEngine : public Engine {
 public:
  // Fails with Jet's texts: "Could not find file '<path>'." for a missing file,
  // "Unrecognized database format '<path>'." for a file that is no database.
  std::unique_ptr<Session> open(const ConnectionString& connection, const std::wstring& login,
                                const std::wstring& password, uint32_t connectionTimeout) override;
};

}  // namespace ado
