#include "platform/registry/registry_log_backend.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

#include "platform/sync/named_mutex.h"
#include "platform/registry/registry.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

using testing_support::readFile;
using testing_support::ScopedSystemRoot;

namespace {

constexpr HKEY HKLM = HKEY_LOCAL_MACHINE;
const std::wstring kCadroLog = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Cadro";

uint32_t dwordAt(const std::wstring& key, const std::wstring& name) {
  uint32_t v = 0xFFFFFFFF;
  EXPECT_EQ(registry::lookup(HKLM, key, name, v, 0), 0u) << text::toUtf8(key + L"\\" + name);
  return v;
}

class RegistryLogBackendTest : public ::testing::Test {
 protected:
  void TearDown() override { LogManager::instance().setBackend(makeDefaultLogBackend()); }
  // Installs the registry backend afresh (it reads "Debug") with errors kept off the console.
  void installQuiet() {
    LogManager::instance().setBackend(makeDefaultLogBackend());
    LogManager::instance().setSwitch(3, 0);
  }
  std::string eventLog() { return readFile(root.file("eventlog/Cadro.log")); }

  ScopedSystemRoot root;
  const std::wstring source = text::fromAnsi(process::executableName());
};

}  // namespace

TEST_F(RegistryLogBackendTest, RegistrationCreatesTheKeysAndDebugDecidesWhatIsWritten) {
  ASSERT_EQ(registry::write(HKLM, registry::kConfigKey, L"CadroService", std::wstring(L"/usr/sbin/cadrosrv")), 0u);
  ASSERT_EQ(registry::write(HKLM, registry::kConfigKey, L"Debug", 0u), 0u);
  installQuiet();
  EXPECT_FALSE(LogManager::instance().debugMode());
  vreport(0, L"information while debug is off");
  vreport(1, L"warning while debug is off");
  vreport(3, L"an error\twith a tab");

  EXPECT_EQ(dwordAt(kCadroLog, L"MaxSize"), 0x800000u);
  EXPECT_EQ(dwordAt(kCadroLog, L"Retention"), 0u);
  EXPECT_EQ(dwordAt(kCadroLog + L"\\" + source, L"TypesSupported"), 7u);
  EXPECT_EQ(registry::getstr(HKLM, kCadroLog + L"\\" + source, L"EventMessageFile", REG_SZ), L"/usr/sbin/cadrosrv");
  EXPECT_TRUE(testing_support::fileExists(NamedMutex::lockFilePath(kEventRegistrationMutex)));

  std::string log = eventLog();
  EXPECT_EQ(log.find("debug is off"), std::string::npos) << log;
  std::string expected = "\tERROR\t" + text::toUtf8(source) + "\t1\t0\tan error\\twith a tab\t" +
                         process::executablePath() + "\n";
  ASSERT_GE(log.size(), 20 + expected.size());
  EXPECT_EQ(log.substr(20), expected);

  ASSERT_EQ(registry::write(HKLM, L"SOFTWARE\\CADRO\\CDR Config\\Config", L"DEBUG", 1u), 0u);
  installQuiet();
  EXPECT_TRUE(LogManager::instance().debugMode());
  vreport(0, L"information while debug is on");
  vreport(1, L"warning while debug is on");
  log = eventLog();
  EXPECT_NE(log.find("\tINFORMATION\t" + text::toUtf8(source) + "\t1\t0\tinformation while debug is on\t"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\tWARNING\t"), std::string::npos);

  ASSERT_EQ(registry::write(HKLM, registry::kConfigKey, L"DebugUtilExec", std::wstring(L"true")), 0u);
  EXPECT_TRUE(LogManager::instance().debugUtilExec());
  ASSERT_EQ(registry::write(HKLM, registry::kConfigKey, L"DebugUtilExec", std::wstring(L"TRUE ")), 0u);
  EXPECT_FALSE(LogManager::instance().debugUtilExec());
}

TEST_F(RegistryLogBackendTest, TakenApplicationNameAndTheLogsOwnSizeLimit) {
  ASSERT_TRUE(registry::write(HKLM, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\statistics",
                              L"EventMessageFile", std::wstring(L"other")) == 0);
  ASSERT_EQ(registry::write(HKLM, kCadroLog, L"MaxSize", 300u), 0u);  // an operator's limit
  std::unique_ptr<LogBackend> backend = makeRegistryLogBackend();
  std::unique_ptr<EventSource> events = backend->registerEventSource(L"statistics", L"/usr/sbin/cadrosrv");
  ASSERT_TRUE(events);
  EXPECT_TRUE(registry::exists(HKLM, kCadroLog + L"\\Cadro:  statistics"));
  EXPECT_FALSE(registry::exists(HKLM, kCadroLog + L"\\statistics"));
  EXPECT_EQ(dwordAt(kCadroLog, L"MaxSize"), 300u);  // an existing log key is left alone
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(events->report(3, std::wstring(80, L'e'), L"/bin/statistics"));
  EXPECT_NE(eventLog().find("\tERROR\tCadro:  statistics\t1\t0\t"), std::string::npos);
  EXPECT_TRUE(testing_support::fileExists(root.file("eventlog/Cadro.log.1")));
  EXPECT_LE(eventLog().size(), 600u);
}

TEST_F(RegistryLogBackendTest, AnUnusableStoreMeansNoEventLogButTheConsoleStillGetsTheReport) {
  testing_support::writeFile(root.file("registry"), "a file where the store should be");
  LogManager::instance().setBackend(makeDefaultLogBackend());
  EXPECT_FALSE(LogManager::instance().debugMode());
  vexception error(L"Calculation failed", VCTX(L"Calculate domain(s) traffic", "statistics::start"));

  std::fflush(stdout);
  int saved = dup(1);
  FILE* capture = std::tmpfile();
  dup2(fileno(capture), 1);
  vreport(3, error);
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::rewind(capture);
  char buf[4096] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, capture);
  std::fclose(capture);

  // Without an event log the console shows the detailed text.
  EXPECT_EQ(std::string(buf, n), text::toUtf8(error.detailedText()));
  EXPECT_FALSE(testing_support::fileExists(root.file("eventlog/Cadro.log")));
}

TEST_F(RegistryLogBackendTest, TheCrashRecordNamesTaskAndMaskedCommandLineUnderTheRegisteredSource) {
  // The program's name is taken in the Application log: its records use the other name.
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\cadro-crash-probe",
                            L"EventMessageFile", std::wstring(L"other")),
            0u);
  const std::string probe = testing_support::binaryPath("cadro-crash-probe");
  auto r = testing_support::runProcess(probe, {"segv", "--all", "--db-password=secret"}, {{"CADRO_SYSTEM_ROOT", root.path()}});
  EXPECT_EQ(r.exitCode, 1);
  const std::string log = testing_support::readFile(root.file("eventlog/Cadro.log"));
  const std::string source = "\tERROR\tCadro:  cadro-crash-probe\t1\t0\t";
  EXPECT_NE(log.find(source + "first report\t"), std::string::npos) << log;
  const std::string probePattern = std::regex_replace(probe, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  const std::regex crash(source + R"(C Exception: 3221225477\\n   at Calculate domain\(s\) traffic\(statistics::start line \d+\))" +
                         R"(\\n   at execute )" + probePattern + R"( segv --all "--db-password=\*" \(vconsoleapp::run line \d+\)\t)" +
                         probePattern + "\n");
  EXPECT_TRUE(std::regex_search(log, crash)) << log;
  EXPECT_EQ(log.find("secret"), std::string::npos) << log;
}
