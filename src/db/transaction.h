#pragma once
// A unit of database work that either commits whole or leaves no transaction open behind
// it: the connection is shared by every task of the run, and a transaction left open by a
// failed task would take the next task's statements into it.

#include <utility>

#include "db/database_provider.h"

namespace db {

// Runs `body` between beginTransaction and commitTransaction on `provider`. When the body
// (or the commit) fails, the transaction is rolled back before the failure propagates; a
// failure of the rollback itself is swallowed so that the original failure is the one
// reported.
template <typename F>
void inTransaction(IDatabaseProvider& provider, F&& body) {
  provider.beginTransaction();
  try {
    std::forward<F>(body)();
    provider.commitTransaction();
  } catch (...) {
    // Also after a failed commit: an engine that refused to commit keeps the transaction.
    try {
      provider.rollbackTransaction();
    } catch (...) {
    }
    throw;
  }
}

}  // namespace db
