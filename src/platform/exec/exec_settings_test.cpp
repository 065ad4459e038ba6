// The system's execution settings against the real management service and registry.
#include "platform/exec/exec_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/service/cadrosrv_client.h"
#include "platform/exec/exec_util.h"
#include "platform/service/pipe_channel.h"
#include "platform/exec/process_runner.h"
#include "platform/service/product_paths.h"
#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/service_process.h"
#include "testing/temp_dir.h"

namespace {

std::wstring w(const std::string& s) { return text::fromUtf8(s); }

class SystemExecSettings : public ::testing::Test {
 protected:
  SystemExecSettings() {
    CadroSrvClient::resetInstance();
    vpipechannel::resetConnectAttempts();
    resetProductPathCache();
    testing_support::writeFile(product.file("admin/bin/tool"), "#!/bin/sh\necho \"tool $1\"\n");
    chmod(product.file("admin/bin/tool").c_str(), 0755);
    testing_support::writeFile(product.file("tmp/.keep"), "");
  }
  ~SystemExecSettings() override {
    CadroSrvClient::resetInstance();
    resetProductPathCache();
  }

  testing_support::ScopedSystemRoot root;
  testing_support::TempDir product;
};

}  // namespace

TEST_F(SystemExecSettings, ProductRootAndComponentsComeFromTheServiceAndTheTraceFromTheRegistry) {
  testing_support::ServiceProcess service("[settings]\nPRODUCT_ROOT_D = " + product.path() +
                                          "//\n[components]\nperl = /usr/\npython =\n");
  ExecSettings& settings = ExecSettings::system();
  EXPECT_EQ(settings.productRoot(), w(product.path()));
  EXPECT_EQ(settings.componentDirectory(L"perl"), L"/usr");
  EXPECT_EQ(settings.componentDirectory(L"python"), L"");
  EXPECT_EQ(settings.componentDirectory(L"php"), L"");  // an error reply: not installed

  EXPECT_EQ(settings.traceFile(), L"");
  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"PRODUCT_ROOT_D", w(product.path()));
  EXPECT_EQ(settings.traceFile(), L"");
  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"DebugUtilExec", L"true");
  EXPECT_EQ(settings.traceFile(), w(product.file("tmp/util_exec.log")));

  std::wstring output;
  EXPECT_EQ(execUtil(L"tool", L"--run", &output), 0u);
  EXPECT_EQ(output, L"tool --run\n");
  const std::string trace = testing_support::readFile(product.file("tmp/util_exec.log"));
  EXPECT_NE(trace.find("\texecUtil(Start)\t"), std::string::npos) << trace;
  EXPECT_NE(trace.find("\texecUtil(End)\t"), std::string::npos) << trace;

  registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"DebugUtilExec", L"TRUE");
  EXPECT_EQ(settings.traceFile(), L"");

  // The script runner finds Perl where the service says it is.
  testing_support::writeFile(product.file("job.pl"), "print \"perl @ARGV\";");
  ProcessRunner runner;
  runner.start(w(product.file("job.pl")), L"\"a b\"", {});
  std::string out, err;
  ASSERT_TRUE(runner.waitAndCollect(out, err, nullptr, 20000));
  EXPECT_EQ(out, "perl a b");
  EXPECT_EQ(runner.exitCode(), 0u);
}

TEST_F(SystemExecSettings, WithoutTheServiceNothingIsInstalled) {
  ExecSettings& settings = ExecSettings::system();
  EXPECT_EQ(settings.componentDirectory(L"perl"), L"");
  EXPECT_THROW(settings.productRoot(), vexception);
  EXPECT_THROW(execUtil(L"tool", L""), vexception);
}
