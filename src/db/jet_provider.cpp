#include "db/jet_provider.h"

#include <cerrno>
#include <cstdlib>

#include "db/sql_translation.h"
#include "platform/report/guard.h"
#include "platform/service/product_paths.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "platform/text/vformat.h"

JetDatabaseProvider::JetDatabaseProvider(std::function<std::wstring()> productRoot,
                                         std::shared_ptr<const ado::EngineCatalog> catalog)
    : VADODatabaseProvider(std::move(catalog)), productRoot_(std::move(productRoot)) {
  if (!productRoot_) productRoot_ = [] { return getProductPath(L"PRODUCT_ROOT_D"); };
}

void JetDatabaseProvider::connect(const std::wstring& host, const std::wstring& database, const std::wstring&,
                                  const std::wstring&, int32_t port, const std::wstring& socket) {
  disconnect();  // also when the product root or the environment fails below
  const ContextRecord record = VCTX(L"Unable to set environment variable", "JetDatabaseProvider::connect");
  std::wstring directory = guard::pass(record, [&] { return productRoot_() + L"/admin/db"; });
  const std::string native = text::toAnsi(directory);
  for (const char* name : {"TEMP", "TMP"}) {
    if (::setenv(name, native.c_str(), 1) != 0)
      raiseErrno(L"Unable to set environment variable", errno, VCTX(L"", "JetDatabaseProvider::connect"));
  }

  VADODatabaseProvider::connect(host, database, L"", L"", port, socket);
  try {
    connection().setProperty(L"Jet OLEDB:Transaction Commit Mode", 1);
    connection().setProperty(L"Jet OLEDB:Implicit Commit Sync", 1);
  } catch (...) {
    disconnect();
    throw;
  }
}

int64_t JetDatabaseProvider::nextCounterValue(const std::wstring&, const std::wstring&) {
  execute(L"insert into ms_jet_counter(val) values( 0 )");
  int64_t value = lastInsertId();
  execute(L"delete from ms_jet_counter");
  return value;
}

std::wstring JetDatabaseProvider::connectionString(const std::wstring& host, const std::wstring& database) {
  if (!host.empty() && host != L"localhost")
    throw vexception(L"Jet support only local databases", VCTX(L"", "JetDatabaseProvider::connectionString"));
  return vformat(L"Provider='Microsoft.Jet.OLEDB.4.0';Data Source=%s", database);
}

std::wstring JetDatabaseProvider::translate(const std::wstring& sql) const { return translateForJet(sql); }
