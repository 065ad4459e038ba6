// Behaviour every database provider shares, run over each engine of ProviderTestEngines.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "db/database_provider.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/controlpanel_schema.h"
#include "testing/provider_test_engines.h"

using namespace testing_support;

namespace {

template <class Engine>
class ProviderSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = Engine::unavailable()) GTEST_SKIP() << *why;
    engine_ = std::make_unique<Engine>();
    db_ = engine_->connect();
  }

  IDatabaseProvider& db() { return *db_; }
  void loadSchema() { createControlPanelSchema(*db_, Engine::kDialect); }

  // samples(id, label): 1 NULL, 2 '', 3 'x'.
  void createSamples() {
    db().execute(L"CREATE TABLE samples (id INTEGER, label VARCHAR(200))");
    db().execute(L"INSERT INTO samples (id, label) VALUES (1, NULL)");
    db().execute(L"INSERT INTO samples (id, label) VALUES (2, '')");
    db().execute(L"INSERT INTO samples (id, label) VALUES (3, 'x')");
  }

  std::wstring single(const std::wstring& sql) {
    VRecordSet rs = db().query(sql);
    EXPECT_TRUE(rs.next()) << "no row for " << text::toUtf8(sql);
    return rs.get(0);
  }

  std::unique_ptr<Engine> engine_;
  std::unique_ptr<IDatabaseProvider> db_;  // destroyed before the engine's database
};

TYPED_TEST_SUITE(ProviderSuite, ProviderTestEngines, ProviderTestEngineNames);

TYPED_TEST(ProviderSuite, NullAndEmptyValuesAreToldApartUnderBothFlags) {
  this->createSamples();
  VRecordSet rs = this->db().query(L"SELECT id, label FROM samples ORDER BY id");
  std::wstring out = L"untouched";

  ASSERT_TRUE(rs.next());  // NULL
  EXPECT_TRUE(rs.isNull(1, false));
  EXPECT_TRUE(rs.isNull(1, true));
  EXPECT_TRUE(rs.isEmpty(1, true));
  EXPECT_FALSE(rs.isEmpty(1, false));
  EXPECT_FALSE(rs.lookup(1, out, false));
  EXPECT_EQ(out, L"untouched");
  EXPECT_EQ(rs.get(1, L"default", false), L"default");

  ASSERT_TRUE(rs.next());  // empty string
  EXPECT_FALSE(rs.isNull(1, false));
  EXPECT_TRUE(rs.isNull(1, true));
  EXPECT_TRUE(rs.isEmpty(1, false));
  EXPECT_TRUE(rs.isEmpty(1, true));
  EXPECT_TRUE(rs.lookup(1, out, false));
  EXPECT_EQ(out, L"");
  EXPECT_FALSE(rs.lookup(1, out, true));
  EXPECT_EQ(rs.get(1, L"default", false), L"");
  EXPECT_EQ(rs.get(1, L"default", true), L"default");

  ASSERT_TRUE(rs.next());
  EXPECT_EQ(rs.get(0), L"3");
  EXPECT_EQ(rs.get(L"label", L"default", true), L"x");
  EXPECT_FALSE(rs.next());
}

TYPED_TEST(ProviderSuite, ColumnsAreFoundByNameAndUnknownNamesThrow) {
  this->createSamples();
  VRecordSet rs = this->db().query(L"SELECT id, label FROM samples ORDER BY id");
  EXPECT_EQ(rs.fieldCount(), 2);
  EXPECT_EQ(rs.columnIndex(L"label"), 1);
  EXPECT_EQ(rs.columnIndex(L"missing"), -1);
  EXPECT_TRUE(rs.hasColumn(L"id"));
  EXPECT_FALSE(rs.hasColumn(L"missing"));
  EXPECT_EQ(rs.columnName(0), L"id");
  ASSERT_TRUE(rs.next());

  auto expectUnexpectedColumn = [](auto&& call, const char* operation) {
    try {
      call();
      ADD_FAILURE() << "no exception from " << operation;
    } catch (const vexception& e) {
      EXPECT_EQ(e.message(), L"Unexpected query for column missing");
      ASSERT_FALSE(e.contexts().empty());
      EXPECT_EQ(e.contexts().front().operation, operation);
    }
  };
  std::wstring out;
  expectUnexpectedColumn([&] { rs.get(L"missing", L"default"); }, "VRecordSet::get");
  expectUnexpectedColumn([&] { rs.isNull(L"missing"); }, "VRecordSet::isNull");
  expectUnexpectedColumn([&] { rs.lookup(L"missing", out); }, "VRecordSet::lookup");
  EXPECT_THROW(rs.get(2), vexception);
  EXPECT_THROW(rs.isNull(-1), vexception);
}

TYPED_TEST(ProviderSuite, FirstRewindsAndLastStandsOnTheLastRow) {
  this->createSamples();
  VRecordSet rs = this->db().query(L"SELECT id FROM samples ORDER BY id");
  EXPECT_EQ(rs.rowCount(), 3);
  ASSERT_TRUE(rs.next());
  ASSERT_TRUE(rs.next());
  EXPECT_TRUE(rs.first());
  ASSERT_TRUE(rs.next());
  EXPECT_EQ(rs.get(0), L"1");
  EXPECT_TRUE(rs.last());
  EXPECT_EQ(rs.get(0), L"3");
  EXPECT_FALSE(rs.next());

  VRecordSet none = this->db().query(L"SELECT id FROM samples WHERE id > 100");
  EXPECT_EQ(none.rowCount(), 0);
  EXPECT_FALSE(none.first());
  EXPECT_FALSE(none.last());
  EXPECT_FALSE(none.next());
  EXPECT_TRUE(none.isNull(0));
}

TYPED_TEST(ProviderSuite, RecordSetsOutliveLaterStatements) {
  this->createSamples();
  VRecordSet all = this->db().query(L"SELECT id, label FROM samples ORDER BY id");
  VRecordSet count = this->db().query(L"SELECT COUNT(*) FROM samples");
  this->db().execute(L"DELETE FROM samples");
  VRecordSet shared = all;
  all = VRecordSet();

  int rows = 0;
  while (shared.next()) ++rows;
  EXPECT_EQ(rows, 3);
  ASSERT_TRUE(count.next());
  EXPECT_EQ(count.get(0), L"3");
  EXPECT_EQ(this->single(L"SELECT COUNT(*) FROM samples"), L"0");
}

TYPED_TEST(ProviderSuite, EscapedTextRoundTripsThroughARow) {
  this->db().execute(L"CREATE TABLE samples (id INTEGER, label VARCHAR(200))");
  const std::wstring values[] = {
      L"O'Brien",     L"back\\slash", L"double\"quote", L"end\\",        L"\\'",
      L"''",          L"%_",          L"Grüße, Привет, 日本語",          L"x'); DELETE FROM samples; --",
  };
  int id = 0;
  for (const std::wstring& value : values) {
    ++id;
    this->db().execute(L"INSERT INTO samples (id, label) VALUES (" + std::to_wstring(id) + L", '" +
                       this->db().escape(value) + L"')");
  }
  VRecordSet rs = this->db().query(L"SELECT label FROM samples ORDER BY id");
  for (const std::wstring& value : values) {
    ASSERT_TRUE(rs.next());
    EXPECT_EQ(rs.get(0), value);
  }
  EXPECT_FALSE(rs.next());
}

// A NUL reaches the database in logins and names taken from log lines. Every engine stores
// it and finds it as one more character: a value with a NUL matches only itself.
TYPED_TEST(ProviderSuite, ANulInAValueIsOneMoreCharacter) {
  this->loadSchema();  // misc compares its text without regard to case, as the panel's tables do
  IDatabaseProvider& db = this->db();
  const std::wstring stored(L"lo\0gin", 6);
  const std::wstring value(L"v\0'\"\\\0", 6);
  db.execute(L"INSERT INTO misc (param, val) VALUES ('" + db.escape(stored) + L"', '" + db.escape(value) + L"')");
  db.execute(L"INSERT INTO misc (param, val) VALUES ('lo', 'decoy')");

  const struct {
    std::wstring param;
    std::optional<std::wstring> val;  // nullopt: no row
  } lookups[] = {
      {stored, value},
      {std::wstring(L"LO\0GIN", 6), value},
      {std::wstring(L"lo\0gix", 6), std::nullopt},  // differs only after the NUL
      {std::wstring(L"lo\0", 3), std::nullopt},
      {std::wstring(L"lo\0gin\0", 7), std::nullopt},
      {L"login", std::nullopt},
      {L"lo", L"decoy"},
  };
  for (const auto& lookup : lookups) {
    SCOPED_TRACE(text::toUtf8(lookup.param));
    VRecordSet rs = db.query(L"SELECT val FROM misc WHERE param = '" + db.escape(lookup.param) + L"'");
    ASSERT_EQ(rs.next(), lookup.val.has_value());
    if (lookup.val) {
      EXPECT_EQ(rs.get(0), *lookup.val);
    }
  }
  EXPECT_EQ(this->single(L"SELECT param FROM misc WHERE val = '" + db.escape(value) + L"'"), stored);
}

TYPED_TEST(ProviderSuite, ReplaceLeavesOneRowPerKey) {
  this->loadSchema();
  for (const wchar_t* value : {L"one", L"two"}) {
    this->db().replace(L"DELETE FROM misc WHERE param = 'admin_email'",
                       std::wstring(L"INSERT INTO misc (param, val) VALUES ('admin_email', '") + value + L"')");
  }
  EXPECT_EQ(this->single(L"SELECT COUNT(*) FROM misc"), L"1");
  EXPECT_EQ(this->single(L"SELECT val FROM misc WHERE param = 'admin_email'"), L"two");
}

TYPED_TEST(ProviderSuite, CounterValuesIncreaseAndTheCounterTableStaysSmall) {
  this->loadSchema();
  IDatabaseProvider& db = this->db();
  // SQL Server reads the column's maximum, so each value is used for a row as the import
  // does; the other engines hand out counter rows.
  int64_t previous = 0;
  for (int i = 0; i < 3; ++i) {
    int64_t value = db.nextCounterValue(L"accounts", L"id");
    EXPECT_GT(value, previous);
    previous = value;
    db.setIdentityInsert(L"accounts");
    db.execute(L"INSERT INTO accounts (id, type, password) VALUES (" + std::to_wstring(value) + L", 'plain', 'x')");
    db.setIdentityInsert(L"");
  }
  if (db.providerName() != L"MSSQL") {
    EXPECT_LE(std::stoi(this->single(L"SELECT COUNT(*) FROM ms_jet_counter")), 1);
  }
}

TYPED_TEST(ProviderSuite, TransactionsCommitRollBackAndCountTheirDepth) {
  this->loadSchema();
  IDatabaseProvider& db = this->db();
  EXPECT_EQ(db.transactionDepth(), 0);
  db.beginTransaction();
  EXPECT_EQ(db.transactionDepth(), 1);
  db.execute(L"INSERT INTO misc (param, val) VALUES ('rolled', 'back')");
  db.rollbackTransaction();
  EXPECT_EQ(db.transactionDepth(), 0);
  EXPECT_EQ(this->single(L"SELECT COUNT(*) FROM misc WHERE param = 'rolled'"), L"0");

  db.beginTransaction();
  db.execute(L"INSERT INTO misc (param, val) VALUES ('kept', 'yes')");
  db.commitTransaction();
  EXPECT_EQ(this->single(L"SELECT val FROM misc WHERE param = 'kept'"), L"yes");

  db.beginTransaction();
  db.beginTransaction();
  EXPECT_EQ(db.transactionDepth(), 2);
  db.commitTransaction();
  db.commitTransaction();
  EXPECT_EQ(db.transactionDepth(), 0);
}

TYPED_TEST(ProviderSuite, LastInsertIdIsTheNewRowsIdentity) {
  this->loadSchema();
  this->db().execute(L"INSERT INTO accounts (type, password) VALUES ('plain', 'a')");
  this->db().execute(L"INSERT INTO accounts (type, password) VALUES ('plain', 'b')");
  EXPECT_EQ(std::to_wstring(this->db().lastInsertId()), this->single(L"SELECT id FROM accounts WHERE password = 'b'"));
}

}  // namespace
