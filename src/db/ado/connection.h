#pragma once
// Our stand-in for an ADO Connection object: it parses the OLE DB connection string,
// opens the engine of its "Provider", and keeps what ADO keeps for a connection: the
// state, the time-outs, the cursor location and the Errors collection of the latest
// failure. Every failure is thrown as a _com_error whose description is the engine's
// text (all its error records joined by one space).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/ado/engine.h"

namespace ado {

// ADO enumeration values the program passes.
inline constexpr int32_t adUseClient = 3;
inline constexpr int32_t adOpenStatic = 3;
inline constexpr int32_t adLockOptimistic = 3;
inline constexpr int32_t adCmdUnknown = 8;
inline constexpr int32_t adExecuteNoRecords = 128;
inline constexpr int32_t adOptionUnspecified = -1;
inline constexpr int32_t adStateClosed = 0;
inline constexpr int32_t adStateOpen = 1;

class Connection {
 public:
  // `catalog` (the standard engines when null) must outlive nothing: it is shared.
  explicit Connection(std::shared_ptr<const EngineCatalog> catalog = nullptr);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void setCursorLocation(int32_t location) { cursorLocation_ = location; }
  int32_t cursorLocation() const { return cursorLocation_; }
  // Seconds; ADO's defaults are 15 and 30. The connection time-out counts at Open, the
  // command time-out for every later statement (also when set while open).
  void setConnectionTimeout(uint32_t seconds) { connectionTimeout_ = seconds; }
  uint32_t connectionTimeout() const { return connectionTimeout_; }
  void setCommandTimeout(uint32_t seconds);
  uint32_t commandTimeout() const { return commandTimeout_; }

  // Opens the data source. An unknown provider throws "Provider cannot be found. It may
  // not be properly installed."; an open connection throws "Operation is not allowed when
  // the object is open.".
  void open(const std::wstring& connectionString, const std::wstring& login, const std::wstring& password,
            int32_t options);
  // Closes the session (nothing when closed). Open transactions are rolled back by the
  // engine.
  void close() noexcept;
  int32_t state() const { return session_ ? adStateOpen : adStateClosed; }
  const std::wstring& connectionString() const { return connectionString_; }

  void execute(const std::wstring& statement, int32_t options);
  // The rows of a statement; nullopt when it yields no result set.
  std::optional<RowSet> openRowSet(const std::wstring& statement);
  // The new nesting level (1 for the outermost transaction).
  int32_t beginTrans();
  void commitTrans();
  void rollbackTrans();
  // Properties("name") = value.
  void setProperty(const std::wstring& name, int64_t value);
  bool hasTable(const std::wstring& name);

  // The descriptions of the latest failure's errors (kept until the next failure, as ADO
  // keeps its Errors collection).
  const std::vector<std::wstring>& errors() const { return errors_; }
  // Replaces the Errors collection with one error (failures found above the engine).
  void addError(const std::wstring& description) { errors_ = {description}; }

 private:
  Session& session();
  // Runs `body`; an EngineError becomes the Errors collection and a _com_error.
  template <typename F>
  decltype(auto) guarded(F&& body);

  std::shared_ptr<const EngineCatalog> catalog_;
  std::unique_ptr<Session> session_;
  std::wstring connectionString_;
  std::vector<std::wstring> errors_;
  int32_t cursorLocation_ = 2;  // adUseServer, ADO's default
  uint32_t connectionTimeout_ = 15;
  uint32_t commandTimeout_ = 30;
  int32_t transactionLevel_ = 0;
};

}  // namespace ado
