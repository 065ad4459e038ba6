// The quote-table walk of the ADO providers, exactly, and escaping through it.
#include "db/sql_translation.h"

#include <gtest/gtest.h>

#include "db/jet_provider.h"
#include "db/mssql_provider.h"

namespace {

TEST(SqlTranslation, JetBracketsNamesAndSingleQuotesStrings) {
  EXPECT_EQ(translateForJet(L"SELECT `date`, `type` FROM `avstatistics` WHERE `name` = \"x\""),
            L"SELECT [date], [type] FROM [avstatistics] WHERE [name] = 'x'");
  // Quotes of one kind are plain characters inside another.
  EXPECT_EQ(translateForJet(L"'a`b\"c' \"d`e'f\" `g'h\"i`"), L"'a`b\"c' 'd`e'f' [g'h\"i]");
  // Doubled closing quotes stay inside; doubled double quotes then collapse.
  EXPECT_EQ(translateForJet(L"'it''s' \"say \"\"hi\"\"\""), L"'it''s' 'say \"hi\"'");
  // Backquotes do not double: the second one opens a new name.
  EXPECT_EQ(translateForJet(L"`a``b`"), L"[a][b]");
  // No separator on Jet: a dotted name stays one bracketed name.
  EXPECT_EQ(translateForJet(L"`cdr.misc`"), L"[cdr.misc]");
  // An unterminated quote stays open to the end.
  EXPECT_EQ(translateForJet(L"SELECT `open"), L"SELECT [open");
  EXPECT_EQ(translateForJet(L"'open"), L"'open");
  EXPECT_EQ(translateForJet(L""), L"");
}

TEST(SqlTranslation, SqlServerSplitsDottedNames) {
  EXPECT_EQ(translateForSqlServer(L"SELECT * FROM `cdr.dbo.misc` WHERE `a`.`b` = 'x.y'"),
            L"SELECT * FROM [cdr].[dbo].[misc] WHERE [a].[b] = 'x.y'");
  EXPECT_EQ(translateForSqlServer(L"\"a.b\""), L"'a.b'");
}

TEST(SqlTranslation, EscapedValuesSurviveBothQuoteForms) {
  JetDatabaseProvider jet([] { return std::wstring(L"/nonexistent"); });
  const std::wstring value = L"O'Brien \"the\" `best` \\ ''";
  const std::wstring escaped = jet.escape(value);
  EXPECT_EQ(escaped, L"O''Brien \"\"the\"\" `best` \\ ''''");
  // Between single quotes and between double quotes the value comes out whole.
  EXPECT_EQ(translateForJet(L"'" + escaped + L"'"), L"'O''Brien \"the\" `best` \\ '''''");
  EXPECT_EQ(translateForJet(L"\"" + escaped + L"\""), L"'O''Brien \"the\" `best` \\ '''''");
  EXPECT_EQ(translateForSqlServer(L"'" + escaped + L"'"), L"'O''Brien \"the\" `best` \\ '''''");
  // A NUL, which would end the statement, becomes a character expression joined to the rest.
  const std::wstring nul(L"a\0'b", 4);
  EXPECT_EQ(jet.escape(nul), L"a' + Chr(0) + '''b");
  EXPECT_EQ(MSSQLDatabaseProvider().escape(nul), L"a' + CHAR(0) + '''b");
  EXPECT_EQ(translateForJet(L"\"" + jet.escape(nul) + L"\""), L"'a' + Chr(0) + '''b'");
}

}  // namespace
