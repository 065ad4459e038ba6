#include "db/ado_record_set.h"

#include <utility>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "platform/text/vformat.h"

VADORecordSetProvider::VADORecordSetProvider(ado::RowSet rows) : rows_(std::move(rows)) {
  // Not both BOF and EOF: move to the first row and remember that next() has not been
  // called yet.
  beforeFirst_ = rows_.rowCount() != 0;
}

bool VADORecordSetProvider::next() {
  if (atEnd()) return false;
  if (beforeFirst_) {
    beforeFirst_ = false;
    return true;
  }
  ++position_;
  return !atEnd();
}

bool VADORecordSetProvider::first() {
  position_ = 0;
  beforeFirst_ = rows_.rowCount() != 0;
  return beforeFirst_;
}

bool VADORecordSetProvider::last() {
  if (rows_.rowCount() == 0) return false;
  position_ = rows_.rowCount() - 1;
  beforeFirst_ = false;
  return true;
}

int32_t VADORecordSetProvider::fieldCount() { return static_cast<int32_t>(rows_.columns.size()); }

int32_t VADORecordSetProvider::columnIndex(const std::wstring& name) {
  for (size_t i = 0; i < rows_.columns.size(); ++i)
    if (rows_.columns[i] == name) return static_cast<int32_t>(i);
  for (size_t i = 0; i < rows_.columns.size(); ++i)
    if (text::equalsNoCase(rows_.columns[i], name)) return static_cast<int32_t>(i);
  return -1;
}

bool VADORecordSetProvider::hasColumn(const std::wstring& name) { return columnIndex(name) != -1; }

std::wstring VADORecordSetProvider::columnName(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= rows_.columns.size())
    throw vexception(vformat(L"Column index %d is out of range", index),
                     VCTX(L"", "VADORecordSetProvider::columnName"));
  return rows_.columns[static_cast<size_t>(index)];
}

const ado::Cell* VADORecordSetProvider::cell(int32_t index, const char* operation) const {
  if (index < 0 || static_cast<size_t>(index) >= rows_.columns.size())
    throw vexception(vformat(L"Column index %d is out of range", index), VCTX(L"", operation));
  if (beforeFirst_ || atEnd()) return nullptr;
  return &rows_.at(position_, static_cast<size_t>(index));
}

bool VADORecordSetProvider::isNull(int32_t index, bool emptyIsNull) {
  const ado::Cell* c = cell(index, "VADORecordSetProvider::isNull");
  return !c || !*c || (emptyIsNull && (*c)->empty());
}

bool VADORecordSetProvider::isEmpty(int32_t index, bool nullIsEmpty) {
  const ado::Cell* c = cell(index, "VADORecordSetProvider::isEmpty");
  return c && *c ? (*c)->empty() : nullIsEmpty;
}

std::wstring VADORecordSetProvider::get(int32_t index, const std::wstring& defaultValue, bool emptyIsNull) {
  std::wstring out;
  return lookup(index, out, emptyIsNull) ? out : defaultValue;
}

bool VADORecordSetProvider::lookup(int32_t index, std::wstring& out, bool emptyIsNull) {
  const ado::Cell* c = cell(index, "VADORecordSetProvider::lookup");
  if (!c || !*c || (emptyIsNull && (*c)->empty())) return false;
  out = **c;
  return true;
}

int32_t VADORecordSetProvider::rowCount() { return static_cast<int32_t>(rows_.rowCount()); }
