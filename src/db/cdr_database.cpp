#include "db/cdr_database.h"

#include <iterator>

#include "db/connection_settings.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/report/vexception.h"

CDRDatabase::CDRDatabase(bool connectNow, ServiceSettings& settings)
    : CDRDatabase(IDatabaseProvider::Create(configuredProviderName(settings)), settings, connectNow) {}

CDRDatabase::CDRDatabase(std::unique_ptr<IDatabaseProvider> provider, ServiceSettings& settings, bool connectNow)
    : settings_(settings), provider_(std::move(provider)) {
  if (connectNow) connect();
}

CDRDatabase::~CDRDatabase() = default;

void CDRDatabase::connect() {
  if (provider_->isConnected()) return;
  try {
    ConnectionSettings s = resolveConnectionSettings(L"", settings_);
    provider_->connect(s.host, s.database, s.login, s.password, s.port, s.socket);
    return;
  } catch (const VDatabase::UnsuitableServerException&) {
    throw;  // every login reaches the same server
  } catch (...) {
    // Only the last attempt's failure reaches the caller; the earlier ones are kept in the
    // trace, where they explain why a fallback login was used.
    guard::reportCurrent(0, VCTX(L"Connect with the configured settings", "CDRDatabase::connect"));
  }

  struct Fallback {
    const wchar_t* login;
    const wchar_t* password;
  };
  static constexpr Fallback kFallbacks[] = {{L"", L""}, {L"root", L""}, {L"admin", L"kvorn"}};
  for (size_t i = 0;; ++i) {
    const Fallback& fallback = kFallbacks[i];
    try {
      // Only a login whose password really is the one given may get in: the server letting
      // the operating-system account in (database root over the socket, say) would make
      // the program store the fallback's password over the operator's.
      provider_->connectWithPasswordOnly(L"localhost", L"", fallback.login, fallback.password, 0, L"");
    } catch (const VDatabase::UnsuitableServerException&) {
      throw;
    } catch (...) {
      if (i + 1 == std::size(kFallbacks)) throw;
      guard::reportCurrent(0, VCTX(L"Connect with a fallback login", "CDRDatabase::connect"));
      continue;
    }
    try {
      settings_.setPassword(L"pwd", fallback.password);
    } catch (...) {
    }
    return;
  }
}

std::wstring CDRDatabase::escape(const std::wstring& value) { return provider_->escape(value); }

VRecordSet CDRDatabase::query(const std::wstring& sql) {
  vreport(0, L"SQL: %s", sql);
  return provider_->query(sql);
}

void CDRDatabase::execute(const std::wstring& sql) {
  vreport(0, L"SQL: %s", sql);
  provider_->execute(sql);
}

// ---- the process-wide instance

namespace {

struct SharedDatabase {
  int users = 0;
  std::unique_ptr<CDRDatabase> instance;
  // Why the instance could not be created at start-up.
  std::unique_ptr<vexception> creationFailure;
};

SharedDatabase& sharedDatabase() {
  static SharedDatabase shared;
  return shared;
}

void keepCreationFailure(vexception& error, bool, void* data) {
  static_cast<SharedDatabase*>(data)->creationFailure = std::make_unique<vexception>(error);
}

}  // namespace

CDRDatabase& CDRDatabase::shared() {
  SharedDatabase& shared = sharedDatabase();
  if (shared.instance) return *shared.instance;
  vexception error = shared.creationFailure ? *shared.creationFailure
                                            : vexception(L"The control-panel database is not created");
  error.addContext(VCTX(L"", "CDRDatabase::shared"));
  throw error;
}

CDRDatabase::SharedScope::SharedScope() {
  SharedDatabase& shared = sharedDatabase();
  if (shared.users++ != 0) return;
  const ContextRecord record = VCTX(L"Connect to the control-panel database", "CDRDatabase::SharedScope");
  try {
    shared.instance = std::make_unique<CDRDatabase>(false);
  } catch (...) {
    guard::withCurrentFailure(record, keepCreationFailure, &shared);
    if (shared.creationFailure) vreport(1, *shared.creationFailure);
    return;
  }
  guard::report(1, record, [&] { shared.instance->connect(); });
}

CDRDatabase::SharedScope::~SharedScope() {
  SharedDatabase& shared = sharedDatabase();
  if (--shared.users != 0) return;
  shared.instance.reset();
  shared.creationFailure.reset();
}
