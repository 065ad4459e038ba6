// The client against the real service program, each test in a private system root.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "platform/service/cadrosrv_client.h"
#include "platform/service/cadrosrv_protocol.h"
#include "platform/service/pipe_channel.h"
#include "testing/service_process.h"
#include "testing/temp_dir.h"

using testing_support::ServiceProcess;

namespace {

const char* kConfig =
    "; stand-in service configuration\n"
    "[settings]\n"
    "CADRO_DATABASE_PROVIDER_NAME = MySQL\n"
    "PRODUCT_ROOT_D = /opt/cadro/\n"
    "mySQLDBName = cadro\n"
    "\n"
    "[passwords]\n"
    "# control-panel database\n"
    "pwd = d\u00E9j\u00E0 vu\n"
    "\n"
    "[components]\n"
    "perl = /usr\n";

class RealService : public ::testing::Test {
 protected:
  void SetUp() override {
    CadroSrvClient::resetInstance();
    vpipechannel::resetConnectAttempts();
  }
  void TearDown() override { CadroSrvClient::resetInstance(); }

  testing_support::ScopedSystemRoot root_;
};

std::wstring failureOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const vexception& e) {
    return e.message();
  }
  return L"(no failure)";
}

// Runs the service program with `args` and returns its exit status.
int runService(const std::vector<std::string>& args) {
  pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    std::string binary = testing_support::binaryPath("cadrosrv");
    argv.push_back(binary.data());
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(binary.c_str(), argv.data());
    std::_Exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

}  // namespace

TEST_F(RealService, AnswersTheFourCommandsAndStoresPasswordsInTheFile) {
  ServiceProcess service(kConfig);
  CadroSrvClient& client = CadroSrvClient::getInstance();
  EXPECT_EQ(client.getString(L"CADRO_DATABASE_PROVIDER_NAME"), L"MySQL");
  EXPECT_EQ(client.getPassword(L"pwd"), L"d\u00E9j\u00E0 vu");
  EXPECT_EQ(client.componentInfo(L"perl", 2), L"/usr");
  EXPECT_EQ(failureOf([&] { client.getString(L"MISSING"); }), L"Setting MISSING is not defined");
  EXPECT_EQ(failureOf([&] { client.componentInfo(L"perl", 1); }), L"Component information of kind 1 is not available");

  client.setPassword(L"pwd", L"n\u00E8w=;#");
  client.setPassword(L"mail", L"m");
  EXPECT_EQ(client.getPassword(L"pwd"), L"n\u00E8w=;#");
  std::string stored = testing_support::readFile(service.configPath());
  EXPECT_NE(stored.find("# control-panel database\npwd = n\xC3\xA8w=;#\nmail = m\n"), std::string::npos) << stored;
  EXPECT_NE(stored.find("; stand-in service configuration\n[settings]\n"), std::string::npos);

  // A password the file cannot hold is refused, and the old one stays.
  EXPECT_NE(failureOf([&] { client.setPassword(L"pwd", L"a\nb"); }), L"(no failure)");
  EXPECT_EQ(client.getPassword(L"pwd"), L"n\u00E8w=;#");
}

TEST_F(RealService, ConfigurationEditsApplyToTheNextRequest) {
  ServiceProcess service(kConfig);
  EXPECT_EQ(getConfigString(L"mySQLDBName", L"x"), L"cadro");
  testing_support::writeFile(service.configPath(), "[settings]\nmySQLDBName = renamed\n");
  EXPECT_EQ(getConfigString(L"mySQLDBName", L"x"), L"renamed");
  EXPECT_EQ(getConfigString(L"CADRO_DATABASE_PROVIDER_NAME", L"MySQL"), L"MySQL") << "absent: the default";
  ::unlink(service.configPath().c_str());
  EXPECT_EQ(getConfigString(L"mySQLDBName", L"x"), L"x") << "unreadable configuration: the default";
}

TEST_F(RealService, StopsCleanlyOnSigtermAndTheClientThenGivesDefaults) {
  std::optional<ServiceProcess> service;
  service.emplace(kConfig);
  struct stat st;
  ASSERT_EQ(::lstat(service->socketPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(getConfigString(L"mySQLDBName", L"x"), L"cadro");

  std::string socket = service->socketPath();
  int status = service->stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(testing_support::fileExists(socket));

  EXPECT_EQ(getConfigString(L"mySQLDBName", L"x"), L"x");
  CadroSrvClient::resetInstance();
  EXPECT_EQ(getConfigString(L"mySQLDBName", L"x"), L"x");
  EXPECT_EQ(failureOf([] { CadroSrvClient::getInstance(); }),
            L"No such file or directory (Error code 2) at Unable to connect to pipe \\\\.\\pipe\\cdrpipe");

  // Restarted, the same client reconnects by itself.
  service.emplace(kConfig);
  EXPECT_EQ(CadroSrvClient::getInstance().getString(L"mySQLDBName"), L"cadro");
  service->stop();
  service.emplace(kConfig);
  EXPECT_EQ(CadroSrvClient::getInstance().getString(L"mySQLDBName"), L"cadro");
}

TEST_F(RealService, SilentAndHostileClientsDoNotStopIt) {
  ServiceProcess service(kConfig);
  int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, service.socketPath().c_str(), service.socketPath().size() + 1);
  ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  for (const std::string& junk : {std::string("\x05\x00\x00\x00hello", 9), std::string(4, '\xFF'),
                                  std::string("\x10\x00\x00\x00", 4) + std::string(16, '\0')}) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(junk.size()));
    ::close(fd);
  }
  EXPECT_EQ(CadroSrvClient::getInstance().getString(L"mySQLDBName"), L"cadro");
  ::close(silent);
  EXPECT_EQ(::kill(service.pid(), 0), 0);
}

TEST_F(RealService, DaemonModeWritesItsPidFileAndRemovesItOnStop) {
  const std::string config = root_.file("service/cadrosrv.ini");
  testing_support::writeFile(config, kConfig);
  int status = runService({});
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string pidFile = root_.file("run/cadrosrv.pid");
  pid_t pid = std::stoi(testing_support::readFile(pidFile));
  EXPECT_EQ(getConfigString(L"mySQLDBName", L"x"), L"cadro") << "ready when the starter returns";

  // A second service on the same socket is refused.
  status = runService({"--foreground"});
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(::kill(pid, 0), 0);
  EXPECT_FALSE(testing_support::fileExists(pidFile));
  EXPECT_FALSE(testing_support::fileExists(cadrosrv::defaultSocketPath()));
}

TEST_F(RealService, CommandLine) {
  EXPECT_EQ(WEXITSTATUS(runService({"--help"})), 0);
  EXPECT_EQ(WEXITSTATUS(runService({"--bogus"})), 2);
  EXPECT_EQ(WEXITSTATUS(runService({"--config"})), 2);
  // A socket that cannot be made is a start failure.
  EXPECT_EQ(WEXITSTATUS(runService({"--foreground", "--socket", "/proc/no/such/cdrpipe"})), 1);
}
