// SQL Server through ODBC: the OLE DB pairs as FreeTDS takes them, and a real connection
// attempt through the driver.
#include "db/ado/odbc_engine.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "db/mssql_provider.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "testing/temp_dir.h"

using namespace testing_support;

namespace {

std::wstring odbc(const std::wstring& oledb, const std::wstring& login = L"sa", const std::wstring& password = L"pw") {
  return ado::odbcConnectionString(ado::ConnectionString::parse(oledb), login, password, L"/drv/libtdsodbc.so");
}

TEST(OdbcConnectionString, MapsTheServerFormsAndTheCatalog) {
  EXPECT_EQ(odbc(L"Provider=SQLOLEDB.1;Initial Catalog=cdr;Data Source=db.example.net"),
            L"DRIVER={/drv/libtdsodbc.so};SERVER=db.example.net;PORT=1433;DATABASE=cdr;UID=sa;PWD=pw;"
            L"ClientCharset=UTF-8");
  EXPECT_EQ(odbc(L"Provider=SQLOLEDB.1;Initial Catalog=master;Data Source=10.0.0.5,14330"),
            L"DRIVER={/drv/libtdsodbc.so};SERVER=10.0.0.5;PORT=14330;DATABASE=master;UID=sa;PWD=pw;"
            L"ClientCharset=UTF-8");
  EXPECT_EQ(odbc(L"Provider=SQLOLEDB.1;Data Source=tcp:(local),1500"),
            L"DRIVER={/drv/libtdsodbc.so};SERVER=localhost;PORT=1500;UID=sa;PWD=pw;ClientCharset=UTF-8");
  // A named instance: the server's browser service gives the port.
  EXPECT_EQ(odbc(L"Provider=SQLOLEDB.1;Data Source=HOST\\SQLEXPRESS"),
            L"DRIVER={/drv/libtdsodbc.so};SERVER=HOST\\SQLEXPRESS;UID=sa;PWD=pw;ClientCharset=UTF-8");
  // The network library has no meaning over TCP.
  EXPECT_EQ(odbc(L"Provider=SQLOLEDB.1;Initial Catalog=cdr;Data Source=localhost;Network Library=dbnmpntw"),
            odbc(L"Provider=SQLOLEDB.1;Initial Catalog=cdr;Data Source=localhost"));
}

TEST(OdbcConnectionString, LoginOfOpenWinsAndValuesAreBracedWhereNeeded) {
  EXPECT_EQ(odbc(L"Provider=SQLOLEDB.1;Data Source=h;User ID=inline;Password=x", L"", L""),
            L"DRIVER={/drv/libtdsodbc.so};SERVER=h;PORT=1433;UID=inline;PWD=x;ClientCharset=UTF-8");
  EXPECT_EQ(odbc(L"Provider=SQLOLEDB.1;Data Source=h;User ID=inline;Password=x", L"admin", L"p;w}d"),
            L"DRIVER={/drv/libtdsodbc.so};SERVER=h;PORT=1433;UID=admin;PWD={p;w}}d};ClientCharset=UTF-8");
  EXPECT_EQ(odbc(L"Provider=SQLOLEDB.1;Data Source=h;Initial Catalog=' odd name'", L"u", L""),
            L"DRIVER={/drv/libtdsodbc.so};SERVER=h;PORT=1433;DATABASE={ odd name};UID=u;PWD=;ClientCharset=UTF-8");
}

// A TCP port on 127.0.0.1 that nothing listens on.
int closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

TEST(OdbcEngine, ClosedPortFailsWithTheDriversText) {
  ScopedSystemRoot root;
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"ADOConnectionTimeout", 2u), 0u);
  MSSQLDatabaseProvider db;
  const std::wstring dataSource = L"127.0.0.1," + std::to_wstring(closedPort());
  const auto started = std::chrono::steady_clock::now();
  try {
    db.connect(dataSource, L"cdr", L"sa", L"secret", 0, L"");
    FAIL() << "connected to a closed port";
  } catch (const VDatabase::ConnectException& e) {
    EXPECT_EQ(e.message(),
              L"Unable to ADO conect with connection string: Provider=SQLOLEDB.1;Initial Catalog=cdr;Data Source=" +
                  dataSource);
    ASSERT_FALSE(e.contexts().empty());
    EXPECT_NE(e.contexts()[0].text.find(L"[FreeTDS]"), std::wstring::npos) << text::toUtf8(e.contexts()[0].text);
    EXPECT_EQ(e.detailedText().find(L"secret"), std::wstring::npos);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_FALSE(db.isConnected());
  EXPECT_NE(db.lastError().find(L"[FreeTDS]"), std::wstring::npos);
}

}  // namespace
