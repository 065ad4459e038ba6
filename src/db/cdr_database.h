#pragma once
// One connection to the control-panel database: the provider of the configured engine, the
// connection settings and the fallback logins, and the traced query and execute
// operations every task uses.
//
// One process-wide instance is created at start-up, before the command line is read
// (SharedScope), and reached through shared(); tasks that need a connection of their own
// create further, short-lived instances.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "db/database_provider.h"
#include "db/service_settings.h"
#include "platform/text/vformat.h"

class CDRDatabase {
 public:
  // Creates the provider of the configured engine ("CADRO_DATABASE_PROVIDER_NAME") and,
  // when connectNow, connects. Throws when the provider cannot be built or the connection
  // fails; `settings` must outlive the object.
  explicit CDRDatabase(bool connectNow, ServiceSettings& settings = managementServiceSettings());
  // The same over a provider built by the caller.
  CDRDatabase(std::unique_ptr<IDatabaseProvider> provider, ServiceSettings& settings, bool connectNow);
  ~CDRDatabase();
  CDRDatabase(const CDRDatabase&) = delete;
  CDRDatabase& operator=(const CDRDatabase&) = delete;

  // Returns at once when connected. Otherwise resolves the settings and tries them, then
  // the fallback logins ("" / "", "root" / "", "admin" / "kvorn" on the engine's default
  // host, port and socket), each admitted only by its password (never through the
  // operating-system account). A fallback that connects has its password stored as "pwd"
  // with the service (a failure to store it is ignored). Only the last attempt's failure
  // propagates, except that a server unfit for the program
  // (VDatabase::UnsuitableServerException) ends the chain at once.
  void connect();

  std::wstring escape(const std::wstring& value);
  // Traces "SQL: %s" at level 0 and runs the statement; failures are the provider's.
  VRecordSet query(const std::wstring& sql);
  void execute(const std::wstring& sql);
  template <typename... A>
  VRecordSet queryFormat(std::wstring_view format, const A&... args) {
    return query(vformat(format, args...));
  }
  template <typename... A>
  void executeFormat(std::wstring_view format, const A&... args) {
    execute(vformat(format, args...));
  }

  // For what the class does not wrap: replace, transactions, providerName, lastInsertId.
  IDatabaseProvider& provider() { return *provider_; }
  ServiceSettings& settings() { return settings_; }

  // ---- Control-panel lookups (controlpanel_*.cpp)
  //
  // Domain and address identifiers are decimal text as the database returns them and go
  // into the statements as numbers: one that is not a decimal integer raises
  // ArgumentException "Invalid identifier '...'". Names, logins and addresses placed
  // between quotes are escaped. Statement failures are the provider's exceptions and
  // propagate.

  // The control panel's setting `name` (table misc), or `defaultValue` when it is absent,
  // NULL or empty.
  std::wstring getMiscParam(const std::wstring& name, const std::wstring& defaultValue);
  // Stores the setting, replacing any earlier value.
  void setMiscParam(const std::wstring& name, const std::wstring& value);
  // The setting "default_server_" + type as a number; 0 when absent or not a number.
  int32_t getDefaultServerId(const std::wstring& type);
  // The administrator's name ("admin_pname") and e-mail address ("admin_email"). True when
  // the address is set; otherwise warns "Admin email is not set.", sets `email` to
  // "root@" + "FullHostName" (or "<Administrator of Cadro server>" without a host name)
  // and returns false.
  bool getAdminEmail(std::wstring& name, std::wstring& email);

  // Whether `login` is a system user of a hosted domain on the address `ip` (dotted text),
  // of one of its subdomains, a web user of it, or an additional FTP user of it.
  // activeOnly: only domains with status 0. Throws "Unexpected behavior MySQL" when the
  // count comes back without a row.
  bool existFtpUserInDomain(const std::wstring& ip, const std::wstring& login, bool activeOnly);
  bool existFtpUserInSubDomain(const std::wstring& ip, const std::wstring& login, bool activeOnly);
  bool existWebUserInDomain(const std::wstring& ip, const std::wstring& login, bool activeOnly);
  bool existSubFtpUserInDomain(const std::wstring& ip, const std::wstring& login, bool activeOnly);
  // The name of the domain whose system, web or FTP user `login` is (tried in this order);
  // empty when none.
  std::wstring getDomainNameByLogin(const std::wstring& login);

  // Whether the domain has a subdomain called `name`.
  bool existSubdomain(const std::wstring& domainId, const std::wstring& name);
  // The domain's subdomains with their system login and password ("id", "dom_id",
  // "sys_user_type", "name", "displayName", "server_id", "login", "password", the hosting
  // switches, "htype", "www_root", "webstat").
  VRecordSet getSubdomains(const std::wstring& domainId);
  // The domain's aliases: "id", "name", "displayName", "web", "mail", "status".
  VRecordSet getDomainAliases(const std::wstring& domainId);
  bool existDomainAlias(const std::wstring& name);
  // Whether the domain's DNS zone has an A or CNAME record for label + "." + domain name
  // that is not served by a subdomain of that name.
  bool hasDnsHostWithoutSubdomain(const std::wstring& domainId, const std::wstring& label);
  bool hasWwwRecord(const std::wstring& domainId) { return hasDnsHostWithoutSubdomain(domainId, L"www"); }

  // The name of the domain that `name` stands for: the aliased domain of an alias, else
  // the name itself when it is a domain. Throws a vexception "Cannot find base domain for
  // '" + name + "'" otherwise.
  std::wstring getBaseDomainName(const std::wstring& name);
  // The identifier of the domain that `name` (an alias or a domain name) stands for.
  // Throws ArgumentException "Cannot find base domain for '" + name + "'" otherwise, with
  // the name in its Unicode form.
  std::wstring getBaseDomainID(const std::wstring& name);

  // The identifier (and, when `name` is given, the name) of the hosted domain with
  // anonymous FTP switched on at `address`; empty when there is none.
  std::wstring getAnonFtpDomainByIP(uint32_t address, std::wstring* name = nullptr);
  // The domain's address through its hosting or forwarding record; 0 when it has none
  // (each reason is warned about, nothing is thrown). `addressText`, when given, receives
  // the dotted address, empty for 0.
  uint32_t getIPByDomainId(const std::wstring& domainId, std::wstring* addressText = nullptr);
  // The identifier (and, when `name` is given, the name; empty when nothing matched) of the
  // domain at `address`: a forwarding on the address wins, else the last hosted domain.
  // Empty when none.
  std::wstring getDomainByIP(uint32_t address, std::wstring* name = nullptr);

  // The administration account of the default database server of `type` ("mysql",
  // "mssql"): from DatabaseServers when a default server is set (the outputs keep their
  // values when its row is missing), else from the settings type + "_data_source",
  // "_admin_login", "_admin_passwd", "_port". Runs on a connection of its own, opened with
  // this object's settings source and closed before returning.
  void getDatabaseServer(const std::wstring& type, std::wstring& host, std::wstring& login,
                         std::wstring& password, int32_t& port);
  // The same for "mysql", defaulting to "root" at "localhost", port 3306.
  void getMySQLServer(std::wstring& host, std::wstring& login, std::wstring& password, int32_t& port);
  // The same for "mssql", defaulting to "sa" at "localhost", port 1443.
  void getMSSQLServer(std::wstring& host, std::wstring& login, std::wstring& password, int32_t& port);

  // The process-wide instance. Throws when it could not be created at start-up (the
  // failure of that creation, with this operation's record added).
  static CDRDatabase& shared();

  // Holds the process-wide instance: the first scope creates it and tries to connect, the
  // last one destroys it. A start-up failure is reported at level 1 and leaves either no
  // instance (the provider could not be built) or an unconnected one; the run sequence's
  // own connect() then reports the failure for good.
  class SharedScope {
   public:
    SharedScope();
    ~SharedScope();
    SharedScope(const SharedScope&) = delete;
    SharedScope& operator=(const SharedScope&) = delete;
  };

 private:
  ServiceSettings& settings_;
  std::unique_ptr<IDatabaseProvider> provider_;
};
