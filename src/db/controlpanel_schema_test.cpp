// The shared control-panel schema fixture builds on both dialects and holds what the
// program's statements name.
#include "testing/controlpanel_schema.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>
#include <string>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/provider_test_engines.h"
#include "testing/temp_dir.h"

using namespace testing_support;

namespace {

TEST(ControlPanelSchema, SQLiteDialectBuildsAndComparesTextWithoutCase) {
  TempDir dir;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.file("cdr.db").c_str(), &db), SQLITE_OK);
  for (const std::wstring& statement : controlPanelSchemaDdl(SqlDialect::SQLite)) {
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, text::toUtf8(statement).c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "") << "\n" << text::toUtf8(statement);
    sqlite3_free(error);
  }
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_exec(db, "INSERT INTO domains (name, cl_id) VALUES ('Example.COM', 1)", nullptr, nullptr, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT COUNT(*), MAX(real_size), MAX(htype) FROM DOMAINS WHERE name = 'example.com'",
                               -1, &statement, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(statement, 0), 1);
  EXPECT_EQ(sqlite3_column_int(statement, 1), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 2)), "none");
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

TEST(ControlPanelSchema, HoldsEveryTableTheProgramNames) {
  std::set<std::string> names;
  for (const SchemaTable& table : controlPanelTables()) names.insert(text::toUtf8(text::toLower(text::fromUtf8(table.name))));
  for (const char* wanted :
       {"domains", "clients", "hosting", "forwarding", "sys_users", "accounts", "subdomains", "web_users", "ftp_users",
        "anon_ftp", "ip_addresses", "domain_aliases", "dns_recs", "misc", "databaseservers", "dom_param",
        "domainservices", "data_bases", "domainstraffic", "sitepagesstat", "mailmessagesstat", "disk_usage", "mail",
        "limits", "log_actions", "log_components", "avstatistics", "log_rotation", "ms_jet_counter"})
    EXPECT_TRUE(names.count(wanted)) << wanted;
}

TEST(ControlPanelSchema, MySQLDialectBuildsOnTheServer) {
  if (auto why = MySQLProviderEngine::unavailable()) GTEST_SKIP() << *why;
  MySQLProviderEngine engine;
  auto db = engine.connect();
  createControlPanelSchema(*db, SqlDialect::MySQL);
  // Mixed-case table names name one table; a second disk_usage row for a domain is refused.
  db->execute(L"INSERT INTO ip_addresses (ip_address) VALUES ('10.0.0.1')");
  VRecordSet rs = db->query(L"SELECT COUNT(*) FROM IP_Addresses");
  ASSERT_TRUE(rs.next());
  EXPECT_EQ(rs.get(0), L"1");
  db->execute(L"INSERT INTO disk_usage (dom_id) VALUES (7)");
  EXPECT_THROW(db->execute(L"INSERT INTO disk_usage (dom_id) VALUES (7)"), vexception);
}

}  // namespace
