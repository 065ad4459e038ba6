#include "db/ado_connection.h"

#include "db/ado/engine_error.h"
#include "db/ado_record_set.h"
#include "platform/report/guard.h"
#include "platform/report/log_manager.h"
#include "platform/registry/registry.h"
#include "platform/report/vexception.h"

namespace {

// The DWORD `name` of the configuration key; 0 when absent. Other failures raise.
uint32_t configuredTimeout(const wchar_t* name) {
  uint32_t value = 0;
  uint32_t code = registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, name, value, 0);
  if (code == winerr::kFileNotFound) return 0;
  if (code != 0)
    raiseOsError(std::wstring(L"RegQueryValueEx valueName=") + name, code, VCTX(L"", "VADOConnection::open"));
  return value;
}

}  // namespace

VADOConnection::VADOConnection(std::shared_ptr<const ado::EngineCatalog> catalog) : catalog_(std::move(catalog)) {}

VADOConnection::~VADOConnection() = default;

void VADOConnection::open(const std::wstring& connectionString, const std::wstring& login,
                          const std::wstring& password, int32_t options, int32_t cursorLocation) {
  // COM needs no initialisation here.
  connection_ = std::make_unique<ado::Connection>(catalog_);
  connection_->setCursorLocation(cursorLocation);
  guard::report(3, VCTX(L"ADOConnectionTimeout parameter", "VADOConnection::open"), [&] {
    if (uint32_t seconds = configuredTimeout(L"ADOConnectionTimeout")) connection_->setConnectionTimeout(seconds);
  });
  connection_->open(connectionString, login, password, options);
  guard::report(3, VCTX(L"ADOCommandTimeout parameter", "VADOConnection::open"), [&] {
    if (uint32_t seconds = configuredTimeout(L"ADOCommandTimeout")) connection_->setCommandTimeout(seconds);
  });
}

void VADOConnection::close() noexcept {
  if (connection_) connection_->close();
}

ado::Connection& VADOConnection::require(const char* operation) {
  if (!connection_) {
    throw vexception(L"Operation is not allowed when the object is closed.", VCTX(L"", operation));
  }
  return *connection_;
}

void VADOConnection::raise(const char* operation) const { throw vexception(lastError(), VCTX(L"", operation)); }

void VADOConnection::execute(const std::wstring& statement, int32_t options) {
  vreport(0, L"ADO query: %s", statement);
  ado::Connection& connection = require("VADOConnection::execute");
  try {
    connection.execute(statement, options);
  } catch (const _com_error&) {
    raise("VADOConnection::execute");
  }
}

VRecordSet VADOConnection::openRecordSet(const std::wstring& statement) {
  vreport(0, L"ADO query: %s", statement);
  ado::Connection& connection = require("VADORecordSet::open");
  std::optional<ado::RowSet> rows;
  try {
    rows = connection.openRowSet(statement);
  } catch (const _com_error&) {
    raise("VADORecordSet::open");
  }
  if (!rows) {
    connection.addError(L"Operation is not allowed when the object is closed.");
    raise("VADORecordSet::open");
  }
  return VRecordSet(new VADORecordSetProvider(std::move(*rows)));
}

void VADOConnection::beginTrans() {
  ado::Connection& connection = require("VADOConnection::beginTrans");
  try {
    connection.beginTrans();
  } catch (const _com_error&) {
    raise("VADOConnection::beginTrans");
  }
}

void VADOConnection::commitTrans() {
  ado::Connection& connection = require("VADOConnection::commitTrans");
  try {
    connection.commitTrans();
  } catch (const _com_error&) {
    raise("VADOConnection::commitTrans");
  }
}

void VADOConnection::rollbackTrans() {
  ado::Connection& connection = require("VADOConnection::rollbackTrans");
  try {
    connection.rollbackTrans();
  } catch (const _com_error&) {
    raise("VADOConnection::rollbackTrans");
  }
}

void VADOConnection::setProperty(const std::wstring& name, int64_t value) {
  ado::Connection& connection = require("VADOConnection::setProperty");
  try {
    connection.setProperty(name, value);
  } catch (const _com_error&) {
    raise("VADOConnection::setProperty");
  }
}

bool VADOConnection::hasTable(const std::wstring& name) {
  ado::Connection& connection = require("VADOConnection::hasTable");
  try {
    return connection.hasTable(name);
  } catch (const _com_error&) {
    raise("VADOConnection::hasTable");
  }
}

std::wstring VADOConnection::lastError() const {
  return connection_ ? ado::joinDescriptions(connection_->errors()) : std::wstring();
}
