#include "db/ado_provider.h"

#include <exception>

#include "db/text_number.h"
#include "platform/report/com_error.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "platform/text/vformat.h"

namespace {

// The text of the failure in flight; must be called inside a catch block.
std::wstring currentFailureText() {
  try {
    throw;
  } catch (const vexception& e) {
    return e.message();
  } catch (const _com_error& e) {
    return e.Description().empty() ? e.ErrorMessage() : e.Description();
  } catch (const std::exception& e) {
    return text::fromAnsi(e.what());
  } catch (...) {
    return L"Unexpected error";
  }
}

}  // namespace

VADODatabaseProvider::VADODatabaseProvider(std::shared_ptr<const ado::EngineCatalog> catalog)
    : connection_(std::move(catalog)) {}

VADODatabaseProvider::~VADODatabaseProvider() = default;

void VADODatabaseProvider::connect(const std::wstring& host, const std::wstring& database, const std::wstring& login,
                                   const std::wstring& password, int32_t, const std::wstring&) {
  // Whatever happens below, the earlier connection is gone: a refused or failed connect
  // must not leave the caller working on the database it meant to leave.
  disconnect();
  host_ = host;
  database_ = database;
  login_ = login;
  password_ = password;
  const std::wstring text = connectionString(host, database);
  try {
    connection_.open(text, login, password, ado::adOptionUnspecified, ado::adUseClient);
  } catch (...) {
    throw VDatabase::ConnectException(vformat(L"Unable to ADO conect with connection string: %s", text),
                                      VCTX(currentFailureText(), "VADODatabaseProvider::connect"));
  }
  transactionDepth_ = 0;
}

std::wstring VADODatabaseProvider::escape(const std::wstring& value) {
  // One pass: doubling the single quotes and then the double quotes gives the same text,
  // and the quotes that close and reopen the literal around a NUL must stay single.
  std::wstring out;
  out.reserve(value.size());
  for (wchar_t c : value) {
    if (c == L'\0') {
      // The engines end a statement at a NUL, so the character is spelt as an expression
      // joined to the text around it: 'a' + Chr(0) + 'b' reads back as the value.
      out += L"' + ";
      out += nulCharacterExpression();
      out += L" + '";
      continue;
    }
    out += c;
    if (c == L'\'' || c == L'"') out += c;
  }
  return out;
}

void VADODatabaseProvider::useDatabase(const std::wstring& name) { execute(L"use " + name); }

VRecordSet VADODatabaseProvider::query(const std::wstring& sql) { return connection_.openRecordSet(translate(sql)); }

void VADODatabaseProvider::execute(const std::wstring& sql) {
  connection_.execute(translate(sql), ado::adExecuteNoRecords);
}

void VADODatabaseProvider::replace(const std::wstring& deleteSql, const std::wstring& insertSql) {
  execute(deleteSql);
  execute(insertSql);
}

int64_t VADODatabaseProvider::lastInsertId() {
  VRecordSet rs = query(L"SELECT @@IDENTITY");
  if (!rs.next()) return 0;
  return wcrt::wtoi64(rs.get(0, L"0"));
}

void VADODatabaseProvider::beginTransaction() {
  connection_.beginTrans();
  ++transactionDepth_;
}

void VADODatabaseProvider::commitTransaction() {
  connection_.commitTrans();
  --transactionDepth_;
}

void VADODatabaseProvider::rollbackTransaction() {
  connection_.rollbackTrans();
  --transactionDepth_;
}

bool VADODatabaseProvider::tableExists(const std::wstring& name) { return connection_.hasTable(name); }
