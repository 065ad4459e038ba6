#include "testing/controlpanel_schema.h"

#include "db/database_provider.h"
#include "platform/text/text_codec.h"

namespace testing_support {

namespace {

using K = ColumnKind;

SchemaColumn column(std::string name, ColumnKind kind, int length = 0, bool notNull = false,
                    std::string defaultValue = {}) {
  SchemaColumn c;
  c.name = std::move(name);
  c.kind = kind;
  c.length = length;
  c.notNull = notNull;
  c.defaultValue = std::move(defaultValue);
  return c;
}

SchemaColumn id() { return column("id", K::Id); }
SchemaColumn ref(std::string name, bool notNull = false) { return column(std::move(name), K::Ref, 0, notNull); }
SchemaColumn integer(std::string name, std::string defaultValue = {}) {
  bool notNull = !defaultValue.empty();
  return column(std::move(name), K::Int, 0, notNull, std::move(defaultValue));
}
SchemaColumn counter(std::string name) { return column(std::move(name), K::BigInt, 0, true, "0"); }
SchemaColumn bigint(std::string name) { return column(std::move(name), K::BigInt); }
SchemaColumn text(std::string name, int length, std::string defaultValue = {}) {
  return column(std::move(name), K::Text, length, false, std::move(defaultValue));
}
SchemaColumn required(std::string name, int length) { return column(std::move(name), K::Text, length, true); }
SchemaColumn longText(std::string name) { return column(std::move(name), K::LongText); }
SchemaColumn flag(std::string name, const char* defaultValue = "'false'") {
  return column(std::move(name), K::Flag, 0, true, defaultValue);
}
SchemaColumn date(std::string name) { return column(std::move(name), K::Date, 0, true); }
SchemaColumn dateTime(std::string name) { return column(std::move(name), K::DateTime, 0, true); }

std::vector<SchemaTable> buildTables() {
  return {
      {"clients",
       {id(), column("cr_date", K::DateTime), text("cname", 255), text("pname", 255), text("login", 20), integer("status", "0"),
        text("email", 255), ref("limits_id"), text("guid", 36)},
       {},
       {{"login"}}},
      {"domains",
       {id(), column("cr_date", K::DateTime), required("name", 255), text("displayName", 255), ref("dns_zone_id"),
        integer("status", "0"), text("htype", 16, "'none'"), counter("real_size"), ref("cl_id", true),
        ref("limits_id"), text("guid", 36)},
       {},
       {{"name"}}},
      {"dom_param", {ref("dom_id", true), required("param", 245), text("val", 255)}, {"dom_id", "param"}, {}},
      {"DomainServices",
       {id(), ref("dom_id", true), required("type", 16), integer("status", "0"), ref("parameters_id")},
       {},
       {{"dom_id", "type"}}},
      {"hosting",
       {ref("dom_id", true), ref("sys_user_id"), ref("ip_address_id"), text("www_root", 255),
        text("webstat", 16, "'none'"), flag("ssl")},
       {"dom_id"},
       {}},
      {"forwarding", {ref("dom_id", true), ref("ip_address_id"), text("redirect", 255)}, {"dom_id"}, {}},
      {"sys_users",
       {id(), required("login", 20), ref("account_id"), text("home", 255), text("shell", 255), bigint("quota")},
       {},
       {{"login"}}},
      {"accounts", {id(), text("type", 32, "'plain'"), text("password", 255)}, {}, {}},
      {"subdomains",
       {id(),
        ref("dom_id", true),
        required("name", 63),
        text("displayName", 255),
        ref("sys_user_id"),
        text("sys_user_type", 16, "'native'"),
        ref("server_id"),
        flag("coldfusion"),
        flag("ssi"),
        flag("ssi_html"),
        flag("php"),
        text("php_handler_type", 32),
        text("php_version", 16),
        flag("cgi"),
        flag("perl"),
        flag("python"),
        flag("asp"),
        flag("asp_dot_net"),
        text("managed_runtime_version", 16),
        flag("miva"),
        flag("fp"),
        flag("fp_enable"),
        flag("fp_no_index"),
        text("htype", 16, "'vrt_hst'"),
        text("www_root", 255),
        text("webstat", 16, "'none'")},
       {},
       {{"dom_id", "name"}}},
      {"web_users", {id(), ref("dom_id", true), ref("sys_user_id", true)}, {}, {}},
      {"ftp_users", {id(), ref("dom_id", true), ref("sys_user_id", true)}, {}, {}},
      {"anon_ftp", {id(), ref("dom_id", true), flag("status")}, {}, {{"dom_id"}}},
      {"IP_Addresses", {id(), required("ip_address", 39), text("mask", 39)}, {}, {{"ip_address"}}},
      {"domain_aliases",
       {id(), ref("dom_id", true), required("name", 255), text("displayName", 255), flag("dns"), flag("mail"),
        flag("web"), integer("status", "0")},
       {},
       {{"name"}}},
      {"dns_recs", {id(), ref("dns_zone_id", true), required("type", 16), text("host", 255), text("val", 255)}, {}, {}},
      {"misc", {required("param", 64), text("val", 255)}, {"param"}, {}},
      {"DatabaseServers",
       {id(), text("host", 255), integer("port", "0"), text("type", 16), text("admin_login", 255),
        text("admin_password", 255)},
       {},
       {}},
      {"data_bases", {id(), required("name", 63), text("type", 16, "'mysql'"), ref("dom_id", true), ref("db_server_id")},
       {},
       {}},
      {"DomainsTraffic",
       {ref("dom_id", true), date("date"), counter("http_in"), counter("http_out"), counter("ftp_in"),
        counter("ftp_out"), counter("smtp_in"), counter("smtp_out"), counter("pop3_imap_in"),
        counter("pop3_imap_out")},
       {"dom_id", "date"},
       {}},
      {"SitePagesStat", {date("date"), counter("hits")}, {"date"}, {}},
      {"MailMessagesStat", {date("date"), counter("sent")}, {"date"}, {}},
      {"disk_usage",
       {ref("dom_id", true), counter("httpdocs"), counter("anonftp"), counter("logs"), counter("mysql_dbases"),
        counter("mssql_dbases"), counter("mailboxes"), counter("webapps"), counter("maillists"),
        counter("domaindumps"), counter("web_users")},
       {"dom_id"},
       {}},
      {"mail",
       {id(), required("mail_name", 245), ref("dom_id", true), counter("disk_usage"), flag("postbox", "'true'"),
        ref("account_id")},
       {},
       {{"dom_id", "mail_name"}}},
      // Several limits share one id, one row per limit name; a value below 0 is unlimited.
      {"Limits", {ref("id", true), required("limit_name", 32), bigint("value")}, {"id", "limit_name"}, {}},
      {"log_actions",
       {id(), text("ip_address", 39), text("user", 255), dateTime("date"), text("action_name", 255),
        text("object_name", 255)},
       {},
       {}},
      {"log_components",
       {id(), ref("action_id", true), text("component", 255), longText("old_value"), longText("new_value")},
       {},
       {}},
      {"avstatistics", {required("type", 32), date("date"), required("name", 255), counter("val")},
       {"type", "date", "name"},
       {}},
      {"log_rotation",
       {id(), text("period_type", 16, "'by_time'"), text("period", 32, "'daily'"),
        integer("max_number_of_logfiles", "0"), flag("compress_enable"), text("email", 255), flag("turned_on")},
       {},
       {}},
      // Hands out identity values on engines that lack sequences.
      {"ms_jet_counter", {id(), integer("val", "0")}, {}, {}},
  };
}

std::string quoted(SqlDialect dialect, const std::string& name) {
  return dialect == SqlDialect::MySQL ? "`" + name + "`" : "[" + name + "]";
}

std::string columnType(SqlDialect dialect, const SchemaColumn& column) {
  const bool mysql = dialect == SqlDialect::MySQL;
  if (dialect == SqlDialect::MSSQL) {
    switch (column.kind) {
      case K::Id:
        return "INT IDENTITY(1,1) NOT NULL PRIMARY KEY";
      case K::Ref:
      case K::Int:
        return "INT";
      case K::BigInt:
        return "BIGINT";
      case K::Text:
        return "VARCHAR(" + std::to_string(column.length) + ")";
      case K::LongText:
        return "VARCHAR(MAX)";
      case K::Flag:
        return "VARCHAR(5)";
      case K::Date:
      case K::DateTime:
        return "DATETIME";
    }
  }
  switch (column.kind) {
    case K::Id:
      return mysql ? "INT UNSIGNED NOT NULL AUTO_INCREMENT" : "INTEGER PRIMARY KEY AUTOINCREMENT";
    case K::Ref:
      return mysql ? "INT UNSIGNED" : "INTEGER";
    case K::Int:
      return mysql ? "INT" : "INTEGER";
    case K::BigInt:
      return mysql ? "BIGINT" : "INTEGER";
    case K::Text:
      return mysql ? "VARCHAR(" + std::to_string(column.length) + ")" : "TEXT COLLATE NOCASE";
    case K::LongText:
      return mysql ? "TEXT" : "TEXT COLLATE NOCASE";
    case K::Flag:
      return mysql ? "ENUM('false','true')" : "TEXT COLLATE NOCASE";
    case K::Date:
      return "DATE";
    case K::DateTime:
      return "DATETIME";
  }
  return "TEXT";
}

std::string keyList(SqlDialect dialect, const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) {
    if (!out.empty()) out += ", ";
    out += quoted(dialect, name);
  }
  return out;
}

std::string tableDdl(SqlDialect dialect, const SchemaTable& table) {
  std::string out = "CREATE TABLE " + quoted(dialect, table.name) + " (";
  bool firstColumn = true;
  bool hasId = false;
  for (const SchemaColumn& column : table.columns) {
    if (!firstColumn) out += ", ";
    firstColumn = false;
    out += quoted(dialect, column.name) + " " + columnType(dialect, column);
    if (column.kind == K::Id) {
      hasId = true;
      continue;
    }
    if (column.notNull) out += " NOT NULL";
    if (!column.defaultValue.empty()) out += " DEFAULT " + column.defaultValue;
  }
  if (hasId && dialect == SqlDialect::MySQL) out += ", PRIMARY KEY (" + quoted(dialect, "id") + ")";
  if (!table.primaryKey.empty()) out += ", PRIMARY KEY (" + keyList(dialect, table.primaryKey) + ")";
  for (const auto& unique : table.uniqueKeys) out += ", UNIQUE (" + keyList(dialect, unique) + ")";
  out += ")";
  if (dialect == SqlDialect::MySQL) out += " ENGINE=InnoDB DEFAULT CHARSET=utf8mb4";
  return out;
}

}  // namespace

const std::vector<SchemaTable>& controlPanelTables() {
  static const std::vector<SchemaTable> tables = buildTables();
  return tables;
}

std::vector<std::wstring> controlPanelSchemaDdl(SqlDialect dialect) {
  std::vector<std::wstring> statements;
  for (const SchemaTable& table : controlPanelTables()) statements.push_back(text::fromUtf8(tableDdl(dialect, table)));
  return statements;
}

void createControlPanelSchema(IDatabaseProvider& provider, SqlDialect dialect) {
  for (const std::wstring& statement : controlPanelSchemaDdl(dialect)) provider.execute(statement);
}

}  // namespace testing_support
