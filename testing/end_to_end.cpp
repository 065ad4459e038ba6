#include "testing/end_to_end.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/registry/registry.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "testing/controlpanel_schema.h"
#include "testing/jet_test_database.h"
#include "testing/mysql_test_server.h"

namespace testing_support {
namespace {

class MySQLEndToEndDatabase : public EndToEndDatabase {
 public:
  explicit MySQLEndToEndDatabase(const MySQLTestServer& server)
      : scratch_(server), provider_(scratch_.connect()) {
    createControlPanelSchema(*provider_, SqlDialect::MySQL);
  }
  std::string providerName() const override { return "MySQL"; }
  std::map<std::string, std::string> serviceSettings() const override {
    const MySQLTestServer& s = scratch_.server();
    return {{"MySQL_DB_HOST", text::toUtf8(s.host)},
            {"MySQL_DB_PORT", std::to_string(s.port)},
            {"mySQLDBName", text::toUtf8(scratch_.name())},
            {"CADRO_DATABASE_LOGIN", text::toUtf8(s.user)}};
  }
  std::string password() const override { return text::toUtf8(scratch_.server().password); }
  IDatabaseProvider& provider() override { return *provider_; }

 private:
  MySQLScratchDatabase scratch_;
  std::unique_ptr<MySQLDatabaseProvider> provider_;
};

class JetEndToEndDatabase : public EndToEndDatabase {
 public:
  JetEndToEndDatabase() : database_(true), provider_(database_.connect()) {}
  std::string providerName() const override { return "Jet"; }
  std::map<std::string, std::string> serviceSettings() const override { return {{"mySQLDBName", database_.path()}}; }
  std::string password() const override { return ""; }
  IDatabaseProvider& provider() override { return *provider_; }

 private:
  JetTestDatabase database_;
  std::unique_ptr<JetDatabaseProvider> provider_;
};

}  // namespace

std::unique_ptr<EndToEndDatabase> EndToEnd::jet(std::string*) { return std::make_unique<JetEndToEndDatabase>(); }

std::unique_ptr<EndToEndDatabase> EndToEnd::mysql(std::string* why) {
  auto server = MySQLTestServer::fromEnvironment(why);
  if (!server) return nullptr;
  return std::make_unique<MySQLEndToEndDatabase>(*server);
}

EndToEnd::EndToEnd(std::unique_ptr<EndToEndDatabase> database, std::map<std::string, std::string> settings)
    : database_(std::move(database)), settings_(std::move(settings)) {
  registry::key config;
  registry::create(HKEY_LOCAL_MACHINE, registry::kConfigKey, config, KEY_ALL_ACCESS);
  sysroot::ensureDirectory(productRoot() + "/admin/db");
  sysroot::ensureDirectory(productRoot() + "/tmp");
  // The control panel's utility that names the FTP server's log directory of an address:
  // none by default (writeUtility replaces it).
  writeUtility("viduza", "exit 0\n");
  writeMetabase("<W3SVC>\n</W3SVC>\n");
  writeServiceConfig();
  service_ = std::make_unique<ServiceProcess>(readFile(file("service/cadrosrv.ini")));
}

EndToEnd::~EndToEnd() { service_.reset(); }

void EndToEnd::writeServiceConfig(const std::map<std::string, std::string>& extraSettings) {
  std::map<std::string, std::string> settings = database_->serviceSettings();
  settings["CADRO_DATABASE_PROVIDER_NAME"] = database_->providerName();
  settings["PRODUCT_ROOT_D"] = productRoot();
  settings["HTTPD_VHOSTS_D"] = file("vhosts");
  settings["CATALINA_HOME"] = file("tomcat");
  // The tests' mail provider: an empty mail server unless a run hands it a script.
  settings["MAIL_PROVIDERW_DLL"] = CADRO_TEST_MAIL_PROVIDER;
  for (const auto& [k, v] : settings_) settings[k] = v;
  for (const auto& [k, v] : extraSettings) settings[k] = v;
  std::ostringstream ini;
  ini << "[settings]\n";
  for (const auto& [k, v] : settings) ini << k << " = " << v << "\n";
  ini << "\n[passwords]\npwd = " << database_->password() << "\n\n[components]\n";
  for (const auto& [k, v] : components_) ini << k << " = " << v << "\n";
  writeFile(file("service/cadrosrv.ini"), ini.str());
}

void EndToEnd::useAnalysers() {
  const std::string dir = file("analysers");
  const std::string script = std::string(CADRO_SOURCE_DIR) + "/scripts/analyser-layout";
  ProcessResult r = runProcess(script, {dir});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  settings_["AWStatsPath"] = dir + "/awstats";
  settings_["WebalizerPath"] = dir + "/webalizer/bin/webalizer";
  components_["awstats"] = dir + "/awstats";
  components_["perl"] = dir + "/perl";
  writeServiceConfig();
}

void EndToEnd::writeUtility(const std::string& name, const std::string& script) {
  const std::string path = productRoot() + "/admin/bin/" + name;
  writeFile(path, "#!/bin/sh\n" + script);
  chmod(path.c_str(), 0755);
}

void EndToEnd::writeMetabase(const std::string& xml) { writeFile(file("iis/metabase.xml"), xml); }

ProcessResult EndToEnd::run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> all = env;
  all["CADRO_SYSTEM_ROOT"] = root();
  // The database comes from the service settings alone, not from a developer's shell.
  return runProcess(binaryPath("statistics"), args, all,
                    {"CADRO_DB_HOST", "CADRO_DB_LOGIN", "CADRO_DB_NAME", "CADRO_DB_PASSWD", "CADRO_DB_PORT",
                     "CADRO_DB_SOCK", "MYSQL_UNIX_PORT"});
}

std::wstring EndToEnd::values(const std::wstring& sql) {
  VRecordSet rows = db().query(sql);
  std::wstring out;
  while (rows.next())
    for (int i = 0; i < rows.fieldCount(); ++i) out += (out.empty() ? L"" : L" ") + rows.get(i);
  return out;
}

std::string EndToEnd::eventLog() const {
  std::string path = file("eventlog/Cadro.log");
  return fileExists(path) ? readFile(path) : std::string();
}

void EndToEnd::addClient(int id, const std::wstring& login) {
  db().execute(L"INSERT INTO clients (id, login, pname, guid) VALUES (" + std::to_wstring(id) + L", '" + login +
               L"', '" + login + L"', 'client-guid-" + std::to_wstring(id) + L"')");
}

void EndToEnd::addHostedDomain(int id, const std::wstring& name, int clientId, const std::wstring& ip, int status) {
  std::wstring sid = std::to_wstring(id);
  int ipId = nextIpId_++;
  db().execute(L"INSERT INTO IP_Addresses (id, ip_address) VALUES (" + std::to_wstring(ipId) + L", '" + ip + L"')");
  db().execute(L"INSERT INTO domains (id, name, displayName, htype, status, cl_id, guid) VALUES (" + sid + L", '" +
               name + L"', '" + name + L"', 'vrt_hst', " + std::to_wstring(status) + L", " +
               std::to_wstring(clientId) + L", 'domain-guid-" + sid + L"')");
  db().execute(L"INSERT INTO hosting (dom_id, sys_user_id, ip_address_id, webstat) VALUES (" + sid + L", 0, " +
               std::to_wstring(ipId) + L", 'none')");
}

}  // namespace testing_support
