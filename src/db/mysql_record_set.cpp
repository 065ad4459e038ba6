#include "db/mysql_record_set.h"

#include "db/mysql_client_library.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "platform/text/vformat.h"

VMySQLRecordSet::VMySQLRecordSet(const MySQLClientLibrary& library, MYSQL_RES* result)
    : library_(library), result_(result), fieldCount_(static_cast<int32_t>(library.numFields(result))) {
  try {
    for (int32_t i = 0; i < fieldCount_; ++i) {
      MYSQL_FIELD* field = library_.fetchFieldDirect(result_, static_cast<unsigned>(i));
      columns_[text::fromUtf8(std::string_view(field->name, field->name_length))] = i;
    }
  } catch (...) {
    library_.freeResult(result_);
    throw;
  }
}

VMySQLRecordSet::~VMySQLRecordSet() { library_.freeResult(result_); }

bool VMySQLRecordSet::fetch() {
  row_ = library_.fetchRow(result_);
  lengths_ = row_ ? library_.fetchLengths(result_) : nullptr;
  return row_ != nullptr;
}

bool VMySQLRecordSet::next() { return fetch(); }

// The client library's end-of-data flag is always set on a stored result, so it cannot
// tell whether a seek found a row; the row count can.
bool VMySQLRecordSet::first() {
  library_.dataSeek(result_, 0);
  row_ = nullptr;
  lengths_ = nullptr;
  return rowCount() != 0;
}

bool VMySQLRecordSet::last() {
  uint64_t rows = library_.numRows(result_);
  if (rows == 0) {
    row_ = nullptr;
    lengths_ = nullptr;
    return false;
  }
  library_.dataSeek(result_, rows - 1);
  return fetch();
}

int32_t VMySQLRecordSet::fieldCount() { return fieldCount_; }

int32_t VMySQLRecordSet::columnIndex(const std::wstring& name) {
  auto it = columns_.find(name);
  return it == columns_.end() ? -1 : it->second;
}

bool VMySQLRecordSet::hasColumn(const std::wstring& name) { return columnIndex(name) != -1; }

std::wstring VMySQLRecordSet::columnName(int32_t index) {
  if (index < 0 || index >= fieldCount_)
    throw vexception(vformat(L"Column index %d is out of range", index), VCTX(L"", "VMySQLRecordSet::columnName"));
  MYSQL_FIELD* field = library_.fetchFieldDirect(result_, static_cast<unsigned>(index));
  return text::fromUtf8(std::string_view(field->name, field->name_length));
}

const char* VMySQLRecordSet::value(int32_t index, unsigned long& length, const char* operation) const {
  if (index < 0 || index >= fieldCount_)
    throw vexception(vformat(L"Column index %d is out of range", index), VCTX(L"", operation));
  if (!row_ || !row_[index]) {
    length = 0;
    return nullptr;
  }
  length = lengths_[index];
  return row_[index];
}

bool VMySQLRecordSet::isNull(int32_t index, bool emptyIsNull) {
  unsigned long length = 0;
  const char* v = value(index, length, "VMySQLRecordSet::isNull");
  return !v || (emptyIsNull && length == 0);
}

bool VMySQLRecordSet::isEmpty(int32_t index, bool nullIsEmpty) {
  unsigned long length = 0;
  const char* v = value(index, length, "VMySQLRecordSet::isEmpty");
  return v ? length == 0 : nullIsEmpty;
}

std::wstring VMySQLRecordSet::get(int32_t index, const std::wstring& defaultValue, bool emptyIsNull) {
  std::wstring out;
  return lookup(index, out, emptyIsNull) ? out : defaultValue;
}

bool VMySQLRecordSet::lookup(int32_t index, std::wstring& out, bool emptyIsNull) {
  unsigned long length = 0;
  const char* v = value(index, length, "VMySQLRecordSet::lookup");
  if (!v || (emptyIsNull && length == 0)) return false;
  out = text::fromUtf8(std::string_view(v, length));
  return true;
}

int32_t VMySQLRecordSet::rowCount() { return static_cast<int32_t>(library_.numRows(result_)); }
