#pragma once
// The rows of one ADO query: a client-side static record set, fetched whole, so that row
// counts, rewinding and several open record sets work independently of the connection.
// Like an ADO Recordset it stands on its first row after opening, with a before-first
// flag so that the first next() yields row 1; while the flag is set (and after the last
// row) values read as NULL. Columns are found by name as ADO finds fields: an exact match
// first, otherwise the first name equal without regard to case.

#include <cstdint>
#include <string>

#include "db/ado/engine.h"
#include "db/database_provider.h"

class VADORecordSetProvider : public IDatabaseRecordSet {
 public:
  explicit VADORecordSetProvider(ado::RowSet rows);

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
  ~VADORecordSetProvider() override = default;

 private:
  // The current row's cell of column `index` (null when there is no current row); throws
  // for an index outside the columns.
  const ado::Cell* cell(int32_t index, const char* operation) const;
  bool atEnd() const { return position_ >= rows_.rowCount(); }

  ado::RowSet rows_;
  size_t position_ = 0;
  bool beforeFirst_ = false;
};
