#include "db/ado/connection.h"

#include <utility>

#include "db/ado/engine_error.h"

namespace ado {

Connection::Connection(std::shared_ptr<const EngineCatalog> catalog)
    : catalog_(catalog ? std::move(catalog) : EngineCatalog::standard()) {}

Connection::~Connection() { close(); }

template <typename F>
decltype(auto) Connection::guarded(F&& body) {
  try {
    return std::forward<F>(body)();
  } catch (const EngineError& e) {
    errors_ = e.descriptions();
    throw _com_error(e.code(), e.text());
  }
}

Session& Connection::session() {
  if (!session_) throw EngineError(L"Operation is not allowed when the object is closed.", kObjectClosed);
  return *session_;
}

void Connection::setCommandTimeout(uint32_t seconds) {
  commandTimeout_ = seconds;
  if (session_) guarded([&] { session_->setCommandTimeout(seconds); });
}

void Connection::open(const std::wstring& connectionString, const std::wstring& login, const std::wstring& password,
                      int32_t) {
  guarded([&] {
    if (session_) throw EngineError(L"Operation is not allowed when the object is open.", kObjectClosed);
    ConnectionString parsed = ConnectionString::parse(connectionString);
    const std::wstring provider = parsed.get(L"Provider");
    std::shared_ptr<Engine> engine = catalog_->find(provider);
    if (!engine) throw EngineError(L"Provider cannot be found. It may not be properly installed.", kProviderNotFound);
    std::unique_ptr<Session> opened = engine->open(parsed, login, password, connectionTimeout_);
    opened->setCommandTimeout(commandTimeout_);
    session_ = std::move(opened);
    connectionString_ = connectionString;
    transactionLevel_ = 0;
  });
}

void Connection::close() noexcept {
  session_.reset();
  transactionLevel_ = 0;
}

void Connection::execute(const std::wstring& statement, int32_t) {
  guarded([&] { session().execute(statement); });
}

std::optional<RowSet> Connection::openRowSet(const std::wstring& statement) {
  return guarded([&] { return session().query(statement); });
}

int32_t Connection::beginTrans() {
  return guarded([&] {
    session().beginTransaction();
    return ++transactionLevel_;
  });
}

void Connection::commitTrans() {
  guarded([&] {
    if (transactionLevel_ == 0) throw EngineError(L"No transaction is active.", kTransactionState);
    session().commitTransaction();
    --transactionLevel_;
  });
}

void Connection::rollbackTrans() {
  guarded([&] {
    if (transactionLevel_ == 0) throw EngineError(L"No transaction is active.", kTransactionState);
    session().rollbackTransaction();
    --transactionLevel_;
  });
}

void Connection::setProperty(const std::wstring& name, int64_t value) {
  guarded([&] { session().setProperty(name, value); });
}

bool Connection::hasTable(const std::wstring& name) {
  return guarded([&] { return session().hasTable(name); });
}

}  // namespace ado
