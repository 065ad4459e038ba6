#pragma once
// The rows of one MySQL query, fully fetched into client memory (a stored result), so
// that row counts, seeking and several open record sets work independently of the
// connection that produced them.

#include <cstdint>
#include <string>
#include <unordered_map>

#include "db/database_provider.h"

struct st_mysql_res;
class MySQLClientLibrary;

class VMySQLRecordSet : public IDatabaseRecordSet {
 public:
  // Takes ownership of `result` (freed with the record set). The column map is built here:
  // when two columns share a name the later index wins.
  VMySQLRecordSet(const MySQLClientLibrary& library, st_mysql_res* result);

  bool next() override;
  bool first() override;
  bool last() override;
  int32_t fieldCount() override;
  int32_t columnIndex(const std::wstring& name) override;
  bool hasColumn(const std::wstring& name) override;
  std::wstring columnName(int32_t index) override;
  bool isNull(int32_t index, bool emptyIsNull) override;
  bool isEmpty(int32_t index, bool nullIsEmpty) override;
  std::wstring get(int32_t index, const std::wstring& defaultValue, bool emptyIsNull) override;
  bool lookup(int32_t index, std::wstring& out, bool emptyIsNull) override;
  int32_t rowCount() override;

 protected:
  ~VMySQLRecordSet() override;

 private:
  // Makes the row the client library returns next the current one.
  bool fetch();
  // The current row's value of column `index` (null for NULL or no current row); throws
  // for an index outside the columns.
  const char* value(int32_t index, unsigned long& length, const char* operation) const;

  const MySQLClientLibrary& library_;
  st_mysql_res* result_;
  int32_t fieldCount_;
  std::unordered_map<std::wstring, int32_t> columns_;
  char** row_ = nullptr;
  unsigned long* lengths_ = nullptr;
};
