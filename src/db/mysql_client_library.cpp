#include "db/mysql_client_library.h"

#include <mutex>

#include "platform/report/guard.h"

namespace {

template <typename F>
void resolve(const VModule& library, F& function, const char* name) {
  function = reinterpret_cast<F>(VModule::getProcAddress(library, name));
}

}  // namespace

MySQLClientLibrary::MySQLClientLibrary() : library_(kFileName) {
  resolve(library_, init, "mysql_init");
  resolve(library_, options, "mysql_options");
  resolve(library_, realConnect, "mysql_real_connect");
  resolve(library_, realQuery, "mysql_real_query");
  resolve(library_, storeResult, "mysql_store_result");
  resolve(library_, fetchRow, "mysql_fetch_row");
  resolve(library_, fetchLengths, "mysql_fetch_lengths");
  resolve(library_, numRows, "mysql_num_rows");
  resolve(library_, numFields, "mysql_num_fields");
  resolve(library_, fetchFieldDirect, "mysql_fetch_field_direct");
  resolve(library_, dataSeek, "mysql_data_seek");
  resolve(library_, freeResult, "mysql_free_result");
  resolve(library_, errorNumber, "mysql_errno");
  resolve(library_, error, "mysql_error");
  resolve(library_, insertId, "mysql_insert_id");
  resolve(library_, realEscapeString, "mysql_real_escape_string");
  resolve(library_, ping, "mysql_ping");
  resolve(library_, close, "mysql_close");
}

const MySQLClientLibrary& MySQLClientLibrary::get() {
  static std::mutex mutex;
  // Deliberately never freed: unloading the library at exit would race with providers and
  // record sets that static objects still hold.
  static const MySQLClientLibrary* loaded = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (!loaded) {
    guard::pass(VCTX(L"Load the MySQL client library", "MySQLClientLibrary::get"),
                [&] { loaded = new MySQLClientLibrary(); });
  }
  return *loaded;
}
