#pragma once
// One connection to the control-panel database: the provider of the configured engine, the
// connection settings and the fallback logins, and the traced query and execute
// operations every task uses.
//
// One process-wide instance is created at start-up, before the command line is read
// (SharedScope), and reached through shared(); tasks that need a connection of their own
// create further, short-lived instances.

#include <memory>
#include <string>
#include <string_view>

#include "db/database_provider.h"
#include "db/service_settings.h"
#include "platform/vformat.h"

class CDRDatabase {
 public:
  // Creates the provider of the configured engine ("CADRO_DATABASE_PROVIDER_NAME") and,
  // when connectNow, connects. Throws when the provider cannot be built or the connection
  // fails; `settings` must outlive the object.
  explicit CDRDatabase(bool connectNow, ServiceSettings& settings = managementServiceSettings());
  // The same over a provider built by the caller.
  CDRDatabase(std::unique_ptr<IDatabaseProvider> provider, ServiceSettings& settings, bool connectNow);
  ~CDRDatabase();
  CDRDatabase(const CDRDatabase&) = delete;
  CDRDatabase& operator=(const CDRDatabase&) = delete;

  // Returns at once when connected. Otherwise resolves the settings and tries them, then
  // the fallback logins ("" / "", "root" / "", "admin" / "kvorn" on the engine's default
  // host, port and socket). A fallback that connects has its password stored as "pwd" with
  // the service (a failure to store it is ignored). Only the last attempt's failure
  // propagates.
  void connect();

  std::wstring escape(const std::wstring& value);
  // Traces "SQL: %s" at level 0 and runs the statement; failures are the provider's.
  VRecordSet query(const std::wstring& sql);
  void execute(const std::wstring& sql);
  template <typename... A>
  VRecordSet queryFormat(std::wstring_view format, const A&... args) {
    return query(vformat(format, args...));
  }
  template <typename... A>
  void executeFormat(std::wstring_view format, const A&... args) {
    execute(vformat(format, args...));
  }

  // For what the class does not wrap: replace, transactions, providerName, lastInsertId.
  IDatabaseProvider& provider() { return *provider_; }
  ServiceSettings& settings() { return settings_; }

  // The process-wide instance. Throws when it could not be created at start-up (the
  // failure of that creation, with this operation's record added).
  static CDRDatabase& shared();

  // Holds the process-wide instance: the first scope creates it and tries to connect, the
  // last one destroys it. A start-up failure is reported at level 1 and leaves either no
  // instance (the provider could not be built) or an unconnected one; the run sequence's
  // own connect() then reports the failure for good.
  class SharedScope {
   public:
    SharedScope();
    ~SharedScope();
    SharedScope(const SharedScope&) = delete;
    SharedScope& operator=(const SharedScope&) = delete;
  };

 private:
  void attempt(const std::wstring& host, const std::wstring& database, const std::wstring& login,
               const std::wstring& password, int32_t port, const std::wstring& socket);

  ServiceSettings& settings_;
  std::unique_ptr<IDatabaseProvider> provider_;
};
