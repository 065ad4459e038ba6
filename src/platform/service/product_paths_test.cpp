#include "platform/service/product_paths.h"

#include <gtest/gtest.h>

#include "platform/service/cadrosrv_client.h"
#include "platform/service/pipe_channel.h"
#include "platform/registry/registry.h"
#include "testing/service_process.h"
#include "testing/temp_dir.h"

namespace {

class ProductPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    CadroSrvClient::resetInstance();
    resetProductPathCache();
  }
  void TearDown() override {
    CadroSrvClient::resetInstance();
    resetProductPathCache();
  }
  testing_support::ScopedSystemRoot root_;
};

}  // namespace

TEST_F(ProductPaths, AreAskedFromTheServiceAndNormalised) {
  testing_support::ServiceProcess service(
      "[settings]\n"
      "PRODUCT_ROOT_D = /opt/cadro/\n"
      "HTTPD_VHOSTS_D = C:/Inetpub//vhosts/./x/../\n"
      "AWStatsPath = /opt\\awstats\\\\wwwroot/cgi-bin/\n");
  EXPECT_EQ(getProductPath(L"PRODUCT_ROOT_D"), L"/opt/cadro");
  EXPECT_EQ(getProductPath(L"HTTPD_VHOSTS_D"), L"C:/Inetpub/vhosts");
  EXPECT_EQ(getProductPath(L"AWStatsPath"), L"/opt/awstats/wwwroot/cgi-bin");
  try {
    getProductPath(L"WebalizerPath");
    FAIL();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Setting WebalizerPath is not defined");
  }

  // The product root is kept for the process; the others follow the service.
  testing_support::writeFile(service.configPath(),
                             "[settings]\nPRODUCT_ROOT_D = /elsewhere\nHTTPD_VHOSTS_D = /srv/vhosts\n");
  EXPECT_EQ(getProductPath(L"PRODUCT_ROOT_D"), L"/opt/cadro");
  EXPECT_EQ(getProductPath(L"HTTPD_VHOSTS_D"), L"/srv/vhosts");
}

TEST_F(ProductPaths, AFailedAskForTheRootIsNotKept) {
  EXPECT_THROW(getProductPath(L"PRODUCT_ROOT_D"), vexception);
  testing_support::ServiceProcess service("[settings]\nPRODUCT_ROOT_D = /opt/cadro\n");
  EXPECT_EQ(getProductPath(L"PRODUCT_ROOT_D"), L"/opt/cadro");
}

TEST_F(ProductPaths, ComponentValuesComeFromThePackagesKey) {
  const std::wstring packages = registry::kPackagesKey;
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, packages + L"\\ftpserver", L"", std::wstring(L"ServU")), 0u);
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, packages + L"\\cdr.bu", L"", std::wstring(L"files")), 0u);
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, packages + L"\\cdr.bu\\files", L"provider", std::wstring(L"libdump.so")),
            0u);
  EXPECT_EQ(getComponentValue(L"ftpserver"), L"ServU");
  EXPECT_EQ(getComponentValue(L"FTPSERVER"), L"ServU") << "key names compare without regard to case";
  EXPECT_EQ(getComponentValue(L"cdr.bu", L"files", L"provider"), L"libdump.so");

  EXPECT_EQ(getComponentValue(L"absent"), L"");
  EXPECT_EQ(getComponentValue(L"cdr.bu", L"files", L"absent"), L"");
  EXPECT_EQ(getComponentValue(L"cdr.bu", L"absent", L"provider"), L"");

  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, packages + L"\\numeric", L"", 7u), 0u);
  EXPECT_THROW(getComponentValue(L"numeric"), vexception) << "a value of another type is an error";
}
