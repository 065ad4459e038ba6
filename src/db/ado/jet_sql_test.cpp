// The Jet-to-SQLite rewrite: where "+" becomes jet_add, and that the results then follow
// Jet's "+" on a real SQLite connection.
#include "db/ado/jet_sql.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "db/ado/jet_functions.h"

namespace {

using ado::jet::rewriteForSqlite;

TEST(JetSqlRewrite, PlusBecomesJetAddWithSQLitePrecedence) {
  EXPECT_EQ(rewriteForSqlite("(dns.host = ('www.' + d.name + '.'))"), "(dns.host = (jet_add(jet_add('www.', d.name), '.')))");
  EXPECT_EQ(rewriteForSqlite("SELECT a * b + c / d"), "SELECT jet_add(a * b, c / d)");
  EXPECT_EQ(rewriteForSqlite("x = a - b + c - d"), "x = jet_add(a - b, c) - d");
  EXPECT_EQ(rewriteForSqlite("WHERE -a + -1 > 0"), "WHERE jet_add(-a, -1) > 0");
  EXPECT_EQ(rewriteForSqlite("a || b + c"), "jet_add(a || b, c)");
  EXPECT_EQ(rewriteForSqlite("f(x + 1, g(y) + [z].[w])"), "f(jet_add(x, 1), jet_add(g(y), [z].[w]))");
  EXPECT_EQ(rewriteForSqlite("CASE WHEN a + 1 > 2 THEN b END + 3"),
            "jet_add(CASE WHEN jet_add(a, 1) > 2 THEN b END, 3)");
  EXPECT_EQ(rewriteForSqlite("a + b COLLATE NOCASE"), "jet_add(a, b COLLATE NOCASE)");
  EXPECT_EQ(rewriteForSqlite("x IN (SELECT v + 1 FROM t) AND y & 1 + 2"),
            "x IN (SELECT jet_add(v, 1) FROM t) AND y & jet_add(1, 2)");
}

TEST(JetSqlRewrite, LeavesEverythingElseAsWritten) {
  for (const char* unchanged :
       {"SELECT '1 + 2', [a+b], \"c+d\" FROM t -- x + y\n", "SELECT 1e+5, x - 1, +x, - -x FROM t /* a + b */",
        "INSERT INTO t (a, b) VALUES (1, 'x')", "SELECT count(*) FROM t WHERE NOT x", "", "  ",
        "DELETE FROM `t` WHERE `date` < CDate('2024-01-05')"}) {
    EXPECT_EQ(rewriteForSqlite(unchanged), unchanged);
  }
  // White space and comments around the operands are kept.
  EXPECT_EQ(rewriteForSqlite("a /* l */ + -- r\n b"), "jet_add(a, -- r\n b)");
}

TEST(JetSqlRewrite, IdentityAndBareDateaddIntervals) {
  EXPECT_EQ(rewriteForSqlite("SELECT @@IDENTITY"), "SELECT last_insert_rowid()");
  EXPECT_EQ(rewriteForSqlite("select @@identity + 1"), "select jet_add(last_insert_rowid(), 1)");
  EXPECT_EQ(rewriteForSqlite("dateadd( m, -3, DATE())>[date]"), "dateadd( 'm', -3, DATE())>[date]");
  EXPECT_EQ(rewriteForSqlite("DATEADD(ww,1,x)"), "DATEADD('ww',1,x)");
  EXPECT_EQ(rewriteForSqlite("DATEADD('d', 1, x)"), "DATEADD('d', 1, x)");
  EXPECT_EQ(rewriteForSqlite("DATEADD(month, 1, x)"), "DATEADD(month, 1, x)");
  EXPECT_EQ(rewriteForSqlite("other(m, 1)"), "other(m, 1)");
}

TEST(JetSqlRewrite, HostileInputStaysBounded) {
  // Unbalanced parentheses and quotes, and deep nesting, are copied without failing.
  EXPECT_EQ(rewriteForSqlite("((a + b"), "((jet_add(a, b)");
  EXPECT_EQ(rewriteForSqlite("a + b))"), "jet_add(a, b)))");
  EXPECT_EQ(rewriteForSqlite("'open + x"), "'open + x");
  std::string deep(5000, '(');
  deep += "1 + 2";
  deep += std::string(5000, ')');
  std::string rewritten = rewriteForSqlite(deep);
  EXPECT_EQ(rewritten.size(), deep.size());  // beyond the nesting limit: copied
  // Long runs are rewritten in one pass (a quadratic rewrite would not finish here).
  std::string chain = "SELECT 1";
  for (int i = 0; i < 100000; ++i) chain += " + 1";
  rewritten = rewriteForSqlite(chain);
  EXPECT_EQ(rewritten.rfind("SELECT jet_add(jet_add(", 0), 0u);
  EXPECT_EQ(rewritten.size(), chain.size() + 100000 * std::string("jet_add(").size());
  std::string prefixes;
  for (int i = 0; i < 100000; ++i) prefixes += "- ";
  EXPECT_EQ(rewriteForSqlite(prefixes + ";"), prefixes + ";");
  std::string cases;
  for (int i = 0; i < 50000; ++i) cases += "CASE ( ";
  EXPECT_EQ(rewriteForSqlite(cases), cases);
  const std::string nul("a + 'x\0y'", 10);
  EXPECT_EQ(rewriteForSqlite(nul), std::string("jet_add(a, 'x\0y')", 18));
}

class JetPlusOnSQLite : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    std::string error;
    ASSERT_TRUE(ado::jet::registerFunctions(db_, error)) << error;
    run("CREATE TABLE t (name TEXT, digits TEXT, n INTEGER, r REAL)");
    run("INSERT INTO t VALUES ('example.com', '12', 5, 1.5)");
  }
  void TearDown() override { sqlite3_close(db_); }

  void run(const char* sql) { ASSERT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db_); }

  // The first value of the rewritten statement, "NULL" for NULL.
  std::string value(const std::string& jetSql) {
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = rewriteForSqlite(jetSql);
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql << ": " << sqlite3_errmsg(db_);
    std::string out = "(no row)";
    if (sqlite3_step(stmt) == SQLITE_ROW) {
      sqlite3_value* v = sqlite3_column_value(stmt, 0);
      out = sqlite3_value_type(v) == SQLITE_NULL ? "NULL" : ado::jet::valueText(v);
    }
    sqlite3_finalize(stmt);
    return out;
  }

  sqlite3* db_ = nullptr;
};

TEST_F(JetPlusOnSQLite, TextsJoinAndNumbersAdd) {
  EXPECT_EQ(value("SELECT 'www.' + name + '.' FROM t"), "www.example.com.");
  EXPECT_EQ(value("SELECT digits + digits FROM t"), "1212");  // two texts join, as in Jet
  EXPECT_EQ(value("SELECT digits + 0 FROM t"), "12");          // a number makes it a sum
  EXPECT_EQ(value("SELECT n + 1 FROM t"), "6");
  EXPECT_EQ(value("SELECT n + r FROM t"), "6.5");
  EXPECT_EQ(value("SELECT SUM(n) + SUM(n) * 2 FROM t"), "15");
  EXPECT_EQ(value("SELECT name + NULL FROM t"), "NULL");
  EXPECT_EQ(value("SELECT 9223372036854775807 + 1"), "9223372036854775808");
  EXPECT_EQ(value("SELECT COUNT(*) FROM t WHERE (n + 0) >= 0"), "1");
}

}  // namespace
