#pragma once
// The program's handle on one ADO connection. Each open creates a new Connection object
// (replacing any earlier one) with the cursor location given and the time-outs of the
// configuration key: "ADOConnectionTimeout" (seconds, set before Open) and
// "ADOCommandTimeout" (seconds, set after Open), DWORDs read on every open; absent or 0
// leaves ADO's default (15 and 30 seconds). A time-out that cannot be read or applied is
// reported (level 3, "ADOConnectionTimeout parameter" / "ADOCommandTimeout parameter",
// operation "VADOConnection::open") and the open goes on.
//
// Statement failures are vexceptions whose message is lastError(): the descriptions of
// the connection's Errors collection joined by one space.

#include <cstdint>
#include <memory>
#include <string>

#include "db/ado/connection.h"
#include "db/database_provider.h"

class VADOConnection {
 public:
  // `catalog`: the engines to open (the platform's standard engines when null).
  explicit VADOConnection(std::shared_ptr<const ado::EngineCatalog> catalog = nullptr);
  ~VADOConnection();
  VADOConnection(const VADOConnection&) = delete;
  VADOConnection& operator=(const VADOConnection&) = delete;

  // Opens the connection; a failure of Open itself is thrown as the _com_error of the
  // ADO layer (the Connection object stays, closed, so that lastError() tells why).
  void open(const std::wstring& connectionString, const std::wstring& login, const std::wstring& password,
            int32_t options, int32_t cursorLocation);
  // Closes the connection when one exists; the object is kept.
  void close() noexcept;
  // A Connection object exists.
  bool exists() const { return connection_ != nullptr; }
  // A Connection object exists and is open.
  bool isOpen() const { return connection_ && connection_->state() != ado::adStateClosed; }

  // Traces "ADO query: %s" at level 0 and runs the statement (operation
  // "VADOConnection::execute").
  void execute(const std::wstring& statement, int32_t options);
  // Traces like execute and opens a client-side static record set on the statement
  // (operation "VADORecordSet::open"). A statement that yields no result set has run and
  // then throws "Operation is not allowed when the object is closed.".
  VRecordSet openRecordSet(const std::wstring& statement);

  void beginTrans();
  void commitTrans();
  void rollbackTrans();
  // Sets a provider property of the open connection (operation "VADOConnection::setProperty").
  void setProperty(const std::wstring& name, int64_t value);
  bool hasTable(const std::wstring& name);

  // The descriptions of the Errors collection joined by one space; empty without a
  // Connection object.
  std::wstring lastError() const;

  ado::Connection* connection() { return connection_.get(); }

 private:
  ado::Connection& require(const char* operation);
  [[noreturn]] void raise(const char* operation) const;

  std::shared_ptr<const ado::EngineCatalog> catalog_;
  std::unique_ptr<ado::Connection> connection_;
};
