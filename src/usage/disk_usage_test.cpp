// One domain measured and stored over every provider engine. The seeded world:
//   domain 1 alpha.com (GUID guid-1): a tree under vhosts; MySQL databases "shop" (tables
//     with NULL lengths and one past 4 GiB), "bro-ken" (fails) and "sh`op" (a back quote);
//     SQL Server databases "Sales" (listed as "SALES"), "big" (past 2 GiB) and "absent"
//     (not listed); mailboxes of 3,000,000,000 and 5 bytes; a Tomcat service; dumps.
//   domain 2 beta.com: nothing but one mailbox of 7 bytes.
//   domain 3: MySQL database "other_db" of 1,000,000 bytes, the decoy of a condition that
//     forgets the domain.
// The MySQL server and the SQL Server are fakes that answer what their statements ask.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "db/ado/connection_string.h"
#include "db/ado_record_set.h"
#include "platform/registry/registry.h"
#include "platform/system/system_root.h"
#include "testing/controlpanel_test_database.h"
#include "testing/log_recorder.h"
#include "testing/recording_ado_engine.h"
#include "testing/stub_database_provider.h"
#include "testing/temp_dir.h"
#include "usage/disk_space_calculator.h"
#include "usage/disk_usage_store.h"
#include "usage/usage_test_util.h"

using namespace testing_support;
using namespace usage_testing;

namespace {

ado::RowSet table(std::vector<std::wstring> columns, std::vector<ado::Cell> cells) {
  return ado::RowSet{std::move(columns), std::move(cells)};
}

// A MySQL server that knows three databases' tables.
class FakeMySQLServer : public StubDatabaseProvider {
 public:
  struct Record {
    int created = 0;
    bool failConnect = false;
    std::vector<std::wstring> connects;  // host|database|login|password|port
  };
  explicit FakeMySQLServer(std::shared_ptr<Record> record) : record_(std::move(record)) { ++record_->created; }

  void connect(const std::wstring& host, const std::wstring& database, const std::wstring& login,
               const std::wstring& password, int32_t port, const std::wstring&) override {
    record_->connects.push_back(host + L"|" + database + L"|" + login + L"|" + password + L"|" + std::to_wstring(port));
    if (record_->failConnect) throw vexception(L"Can't connect to MySQL server");
  }
  VRecordSet query(const std::wstring& sql) override {
    const std::vector<std::wstring> columns = {L"Name", L"Engine", L"Data_length", L"Index_length"};
    if (sql == L"SHOW TABLE STATUS FROM `shop`")
      return rows(table(columns, {L"t1", L"InnoDB", L"1000", L"200", L"v", std::nullopt, std::nullopt, std::nullopt,
                                  L"t3", L"MyISAM", std::nullopt, L"30", L"t4", L"InnoDB", L"4000000000", std::nullopt}));
    if (sql == L"SHOW TABLE STATUS FROM `sh``op`") return rows(table(columns, {L"x", L"InnoDB", L"5", L"5"}));
    if (sql == L"SHOW TABLE STATUS FROM `other_db`") return rows(table(columns, {L"y", L"InnoDB", L"1000000", L"0"}));
    throw vexception(L"Unknown database in " + sql);
  }

 private:
  static VRecordSet rows(ado::RowSet set) { return VRecordSet(new VADORecordSetProvider(std::move(set))); }
  std::shared_ptr<Record> record_;
};

constexpr int64_t kShopSizes = 1000 + 200 + 30 + 4000000000LL + 10;
constexpr int64_t kSqlServerSizes = (2048 + 3000000) * 1024LL;

template <class Engine>
class DiskUsage : public ControlPanelTestDatabase<Engine> {
 protected:
  using Base = ControlPanelTestDatabase<Engine>;
  using Base::db;
  using Base::quoted;
  using Base::run;

  void seed() override {
    seedRows();
    build(files_.file("vhosts/alpha.com"), {{"httpdocs/index.html", Kind::File, 100},
                                            {"bin/tool", Kind::File, 10},
                                            {"statistics/access_log", Kind::File, 20},
                                            {"web_users/u/page", Kind::File, 30}});
    build(files_.file("tomcat/cdr-wars/alpha.com"), {{"app.war", Kind::File, 4242}, {"app/WEB-INF/web.xml", Kind::File, 8}});
    build(files_.file("dumps/guid-1"),
          {{"a.tar", Kind::File, 12345}, {"old/b.tar", Kind::File, 55}, {"apps", Kind::Link, 0, "../../tomcat"}});
    writeFile(sysroot::path("backup/dump_directory.conf"), "  " + files_.file("dumps") + "\n");
    useDumpLibrary(CADRO_DUMP_DIRECTORY_PLUGIN);

    sources_.productPath = [this](const std::wstring& name) -> std::wstring {
      if (name == L"HTTPD_VHOSTS_D") return text::fromUtf8(files_.file("vhosts/"));
      if (name == L"CATALINA_HOME" && !catalinaFails_) return text::fromUtf8(files_.file("tomcat"));
      throw vexception(L"Setting " + name + L" is not defined");
    };
    sources_.mysqlServer = [this] { return std::make_unique<FakeMySQLServer>(mysql_); };
    sources_.adoEngines = RecordingAdoEngine::catalogFor(sqlServer_, ado::kSqlServerProvider);
    sqlServer_->answer = [](const std::wstring& statement) -> std::optional<ado::RowSet> {
      if (statement != L"exec sp_databases") return std::nullopt;
      return table({L"DATABASE_NAME", L"DATABASE_SIZE", L"REMARKS"},
                   {L"SALES", L"2048", std::nullopt, L"master", L"5000", std::nullopt, L"big", L"3000000", std::nullopt});
    };
  }

  void seedRows() {
    this->explicitIds(L"domains");
    run(L"INSERT INTO domains (id, name, cl_id, guid) VALUES (1, 'alpha.com', 1, 'guid-1')");
    run(L"INSERT INTO domains (id, name, cl_id) VALUES (2, 'beta.com', 1)");
    this->explicitIds(L"");
    for (const wchar_t* name : {L"shop", L"bro-ken", L"sh`op"})
      run(L"INSERT INTO data_bases (name, type, dom_id) VALUES (" + quoted(name) + L", 'mysql', 1)");
    for (const wchar_t* name : {L"Sales", L"big", L"absent"})
      run(L"INSERT INTO data_bases (name, type, dom_id) VALUES (" + quoted(name) + L", 'mssql', 1)");
    run(L"INSERT INTO data_bases (name, type, dom_id) VALUES ('other_db', 'mysql', 3)");
    run(L"INSERT INTO mail (mail_name, dom_id, disk_usage) VALUES ('info', 1, 3000000000)");
    run(L"INSERT INTO mail (mail_name, dom_id, disk_usage) VALUES ('sales', 1, 5)");
    run(L"INSERT INTO mail (mail_name, dom_id, disk_usage) VALUES ('info', 2, 7)");
    run(L"INSERT INTO DomainServices (dom_id, type) VALUES (1, 'tomcat')");
    run(L"INSERT INTO DomainServices (dom_id, type) VALUES (2, 'mail')");
    const std::pair<const wchar_t*, const wchar_t*> servers[] = {
        {L"mysql_data_source", L"mysql.example"},      {L"mysql_admin_login", L"dbadmin"},
        {L"mysql_admin_passwd", L"p'w"},               {L"mysql_port", L"3307"},
        {L"mssql_data_source", L"sql;Provider=other"}, {L"mssql_admin_login", L"sa2"},
        {L"mssql_admin_passwd", L"pw2"}};
    for (const auto& [name, value] : servers) db().setMiscParam(name, value);
  }

  void useDumpLibrary(const std::string& library) {
    const std::wstring component = std::wstring(registry::kPackagesKey) + L"\\cdr.bu";
    registry::write(HKEY_LOCAL_MACHINE, component, L"", std::wstring(L"directory"));
    registry::write(HKEY_LOCAL_MACHINE, component + L"\\directory", L"provider", text::fromUtf8(library));
  }

  DiskSpaceUsage calculate(int id, const std::wstring& name, const std::wstring& guid) {
    DomainInfo domain(std::to_wstring(id), name, 0, 3, false);
    domain.setDomainGuid(guid);
    return DiskSpaceCalculator(db(), sources_).calculateDiskSpace(domain);
  }

  TempDir files_;
  DiskUsageSources sources_;
  std::shared_ptr<FakeMySQLServer::Record> mysql_ = std::make_shared<FakeMySQLServer::Record>();
  std::shared_ptr<RecordingAdoEngine> sqlServer_ = std::make_shared<RecordingAdoEngine>();
  bool catalinaFails_ = false;
};

TYPED_TEST_SUITE(DiskUsage, ProviderTestEngines, ProviderTestEngineNames);

std::vector<int64_t> fields(const DiskSpaceUsage& u) {
  return {u.httpdocs, u.anonftp, u.logs, u.mysql_dbases, u.mssql_dbases, u.mailboxes, u.webapps, u.web_users,
          u.domaindumps};
}

// A failure was reported at `level` under `context`: a context record of its own, or (for
// a COM error) the end of its message.
bool reportedIn(const std::vector<LoggedMessage>& messages, int level, const std::wstring& context) {
  for (const LoggedMessage& m : messages) {
    if (m.level != level) continue;
    if (m.text.ends_with(L" at " + context)) return true;
    for (const std::wstring& c : m.contexts)
      if (c == context) return true;
  }
  return false;
}

}  // namespace

TYPED_TEST(DiskUsage, EveryComponentIsMeasuredAndServersAreReachedOnlyForTheirDatabases) {
  LogRecorder log;
  DiskSpaceUsage alpha = this->calculate(1, L"alpha.com", L"guid-1");
  EXPECT_EQ(fields(alpha), (std::vector<int64_t>{100, 10, 20, kShopSizes, kSqlServerSizes, 3000000005LL, 4250, 30,
                                                 12345 + 55 + 12}));
  // One failing database is only information; the others still count.
  EXPECT_TRUE(reportedIn(log.take(), 0, L"Sizeof MySQL database 'bro-ken'"));
  EXPECT_EQ(this->mysql_->connects, (std::vector<std::wstring>{L"mysql.example||dbadmin|p'w|3307"}));
  ASSERT_EQ(this->sqlServer_->opens.size(), 1u);
  const auto& open = this->sqlServer_->opens[0];
  ado::ConnectionString connection = ado::ConnectionString::parse(open.connectionString);
  EXPECT_EQ(connection.get(L"Provider"), L"SQLOLEDB.1");
  EXPECT_EQ(connection.get(L"Initial Catalog"), L"master");
  EXPECT_EQ(connection.get(L"Data Source"), L"sql;Provider=other");
  EXPECT_EQ(open.login + L"/" + open.password, L"sa2/pw2");

  // Nothing of beta's but its mailbox: no server is reached, no directory is missed aloud.
  DiskSpaceUsage beta = this->calculate(2, L"beta.com", L"");
  EXPECT_EQ(fields(beta), (std::vector<int64_t>{0, 0, 0, 0, 0, 7, 0, 0, 0}));
  EXPECT_EQ(this->mysql_->created, 1);
  EXPECT_EQ(this->sqlServer_->opens.size(), 1u);
  for (const LoggedMessage& m : log.take()) EXPECT_EQ(m.level, 0) << text::toUtf8(m.text);

  // With the mail setting on, the mailboxes are not asked for.
  this->db().setMiscParam(L"not_count_mail_disk_usage", L"true");
  EXPECT_EQ(this->calculate(2, L"beta.com", L"").mailboxes, 0);
}

TYPED_TEST(DiskUsage, AFailingStepIsReportedAndTheOthersStillCount) {
  this->mysql_->failConnect = true;
  this->sqlServer_->onOpen = [](const RecordingAdoEngine::Open&) { throw ado::EngineError(L"Login failed"); };
  this->useDumpLibrary(this->files_.file("no-such-library.so"));
  this->run(L"DROP TABLE mail");
  LogRecorder log;
  DiskSpaceUsage alpha = this->calculate(1, L"alpha.com", L"guid-1");
  EXPECT_EQ(fields(alpha), (std::vector<int64_t>{100, 10, 20, 0, 0, 0, 4250, 30, 0}));
  const std::vector<std::pair<int, std::wstring>> reports = {{3, L"Count MySQL databases sizes"},
                                                             {3, L"Count MSSQL databases sizes"},
                                                             {3, L"Count Backup dump disk space"},
                                                             {0, L"Count mailboxes sizes for domain alpha.com"}};
  std::vector<LoggedMessage> messages = log.take();
  for (const auto& [level, context] : reports) EXPECT_TRUE(reportedIn(messages, level, context)) << text::toUtf8(context);

  // A failure of the Tomcat step fails the whole domain.
  this->catalinaFails_ = true;
  try {
    this->calculate(1, L"alpha.com", L"guid-1");
    ADD_FAILURE() << "no failure";
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Setting CATALINA_HOME is not defined");
    ASSERT_FALSE(e.contexts().empty());
    EXPECT_EQ(e.contexts().back().text, L"calculateDiskSpace domainName=alpha.com, domainId=1");
  }
}

TYPED_TEST(DiskUsage, TheStoreKeepsOneRowAndRealSizeFollowsTheIncludeSettings) {
  const DiskSpaceUsage measured{1, 2, 4, 8, 16, 32, 64, 128, 256};
  const std::vector<const wchar_t*> includes = {L"include_mysql_databases", L"include_mssql_databases",
                                                L"include_logs",            L"include_mailboxes",
                                                L"include_maillists",       L"include_webapps",
                                                L"include_domaindumps"};
  struct Case {
    const char* name;
    const wchar_t* includeValue;  // for every include setting; null: none set
    bool notCountMail;
    bool previousRow;  // mailboxes 3,000,000,000 and maillists 5,000,000,000
    std::wstring row;  // dom_id httpdocs anonftp logs mysql mssql mailboxes webapps maillists dumps web_users
    std::wstring realSize;
  };
  const Case cases[] = {
      {"no setting", nullptr, false, true, L"1 1 2 4 8 16 32 64 0 256 128", L"131"},
      {"TRUE is not true", L"TRUE", false, false, L"1 1 2 4 8 16 32 64 0 256 128", L"131"},
      {"all included", L"true", false, false, L"1 1 2 4 8 16 32 64 0 256 128", L"511"},
      {"mail carried over", L"true", true, true, L"1 1 2 4 8 16 3000000000 64 5000000000 256 128", L"8000000479"},
      {"nothing to carry over", L"true", true, false, L"1 1 2 4 8 16 0 64 0 256 128", L"479"},
  };
  for (const Case& c : cases) {
    this->run(L"DELETE FROM disk_usage");
    this->run(L"DELETE FROM misc");
    this->run(L"INSERT INTO disk_usage (dom_id, httpdocs) VALUES (2, 99)");
    if (c.previousRow)
      this->run(L"INSERT INTO disk_usage (dom_id, httpdocs, mailboxes, maillists) VALUES (1, 5, 3000000000, 5000000000)");
    for (const wchar_t* setting : includes)
      if (c.includeValue) this->db().setMiscParam(setting, c.includeValue);
    if (c.notCountMail) this->db().setMiscParam(L"not_count_mail_disk_usage", L"true");

    saveDiskSpaceUsage(this->db(), L"alpha.com", L"1", measured);
    saveDiskSpaceUsage(this->db(), L"alpha.com", L"1", measured);
    VRecordSet rows = this->db().query(
        L"SELECT dom_id, httpdocs, anonftp, logs, mysql_dbases, mssql_dbases, mailboxes, webapps, maillists, "
        L"domaindumps, web_users FROM disk_usage WHERE dom_id = 1");
    std::wstring row;
    for (int rowCount = 0; rows.next(); ++rowCount) {
      EXPECT_EQ(rowCount, 0) << c.name;
      for (int i = 0; i < rows.fieldCount(); ++i) row += (i ? L" " : L"") + rows.get(i);
    }
    EXPECT_EQ(row, c.row) << c.name;
    EXPECT_EQ(this->single(L"SELECT real_size FROM domains WHERE id = 1"), c.realSize) << c.name;
    EXPECT_EQ(this->single(L"SELECT httpdocs FROM disk_usage WHERE dom_id = 2"), L"99") << c.name;
  }
}

TYPED_TEST(DiskUsage, MySQLSizesComeFromTheRealServer) {
  if constexpr (!std::is_same_v<TypeParam, MySQLProviderEngine>) {
    GTEST_SKIP() << "a MySQL server's own figures";
  } else {
    const MySQLTestServer& server = this->engine().scratch().server();
    const std::wstring database = this->engine().scratch().name();
    this->run(L"DELETE FROM data_bases");
    this->run(L"INSERT INTO data_bases (name, type, dom_id) VALUES (" + this->quoted(database) + L", 'mysql', 1)");
    this->db().setMiscParam(L"mysql_data_source", server.host);
    this->db().setMiscParam(L"mysql_admin_login", server.user);
    this->db().setMiscParam(L"mysql_admin_passwd", server.password);
    this->db().setMiscParam(L"mysql_port", std::to_wstring(server.port));
    this->sources_.mysqlServer = DiskUsageSources::standard().mysqlServer;
    const std::wstring expected = this->single(
        L"SELECT SUM(data_length + index_length) FROM information_schema.tables WHERE table_schema = " +
        this->quoted(database));
    EXPECT_EQ(std::to_wstring(this->calculate(1, L"alpha.com", L"").mysql_dbases), expected);
  }
}
