#pragma once
// The MariaDB/MySQL client library, loaded with dlopen on first use so that a program
// configured for another engine never needs it. Only the types come from mysql.h; every
// function is reached through this table.

#include <mysql.h>

#include "platform/modules/vlibrary.h"

class MySQLClientLibrary {
 public:
  // The file loaded on first use.
  static constexpr const wchar_t* kFileName = L"libmariadb.so.3";

  // The process's client library, loaded on the first call and kept until the process
  // ends, so it outlives every handle and result taken from it. Throws the loader's error
  // ("LoadLibrary(...)" or "GetProcAddress(...)"); the next call tries again.
  static const MySQLClientLibrary& get();

  decltype(&::mysql_init) init = nullptr;
  decltype(&::mysql_options) options = nullptr;
  decltype(&::mysql_real_connect) realConnect = nullptr;
  decltype(&::mysql_real_query) realQuery = nullptr;
  decltype(&::mysql_store_result) storeResult = nullptr;
  decltype(&::mysql_fetch_row) fetchRow = nullptr;
  decltype(&::mysql_fetch_lengths) fetchLengths = nullptr;
  decltype(&::mysql_num_rows) numRows = nullptr;
  decltype(&::mysql_num_fields) numFields = nullptr;
  decltype(&::mysql_fetch_field_direct) fetchFieldDirect = nullptr;
  decltype(&::mysql_data_seek) dataSeek = nullptr;
  decltype(&::mysql_free_result) freeResult = nullptr;
  decltype(&::mysql_errno) errorNumber = nullptr;
  decltype(&::mysql_error) error = nullptr;
  decltype(&::mysql_insert_id) insertId = nullptr;
  decltype(&::mysql_real_escape_string) realEscapeString = nullptr;
  decltype(&::mysql_ping) ping = nullptr;
  decltype(&::mysql_close) close = nullptr;

  MySQLClientLibrary(const MySQLClientLibrary&) = delete;
  MySQLClientLibrary& operator=(const MySQLClientLibrary&) = delete;

 private:
  MySQLClientLibrary();
  VLibrary library_;
};
