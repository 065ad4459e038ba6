#pragma once
// The control-panel schema as the statistics program sees it: every table and column that
// the program reads or writes, with the column types the control panel uses. One table
// list produces the DDL for MySQL, for SQLite (the Jet file) and for SQL Server, so that
// tests and the demo build the same database on every engine. Extend the list in controlpanel_schema.cpp.

#include <string>
#include <vector>

class IDatabaseProvider;

namespace testing_support {

enum class SqlDialect { MySQL, SQLite, MSSQL };

enum class ColumnKind {
  Id,        // auto-increment identity, the primary key
  Ref,       // identifier of a row of another table
  Int,       // signed 32-bit
  BigInt,    // signed 64-bit (byte counters, sizes, limits)
  Text,      // short text of `length` characters
  LongText,  // text without a practical limit
  Flag,      // 'true' or 'false'
  Date,      // a day, written "YYYY-MM-DD"
  DateTime,  // a day and a time
};

struct SchemaColumn {
  std::string name;
  ColumnKind kind;
  int length = 0;
  bool notNull = false;
  std::string defaultValue;  // an SQL literal; empty: none
};

struct SchemaTable {
  std::string name;
  std::vector<SchemaColumn> columns;
  std::vector<std::string> primaryKey;  // besides an Id column
  std::vector<std::vector<std::string>> uniqueKeys;
};

const std::vector<SchemaTable>& controlPanelTables();

// CREATE TABLE statements for every table, in list order. SQLite text columns compare
// without regard to case (COLLATE NOCASE), as the control panel expects of every engine.
std::vector<std::wstring> controlPanelSchemaDdl(SqlDialect dialect);

// Runs the DDL through `provider` (whose database must be empty of these tables).
void createControlPanelSchema(IDatabaseProvider& provider, SqlDialect dialect);

}  // namespace testing_support
