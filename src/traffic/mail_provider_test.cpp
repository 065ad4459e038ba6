// Loading the mail provider: the library named by the management service, and what a
// missing, foreign or misbehaving library ends in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/report/vexception.h"
#include "platform/service/cadrosrv_client.h"
#include "testing/service_process.h"
#include "traffic/mail_test_util.h"

using namespace testing_support;
using namespace mail_testing;

namespace {

// The message of the failure and its context texts, or "provider" when one was loaded.
std::string outcome(const std::function<mailmng::imailmngprovider*()>& load) {
  try {
    mailmng::ProviderHandle provider(load());
    return provider ? "provider" : "null";
  } catch (const vexception& e) {
    std::string text = text::toUtf8(e.message());
    for (const ContextRecord& c : e.contexts())
      if (!c.text.empty()) text += " | " + text::toUtf8(c.text);
    return text + " @" + (e.contexts().empty() ? "" : e.contexts().back().operation);
  }
}

}  // namespace

TEST(MailProviderLoad, MissingForeignAndMisbehavingLibraries) {
  TempDir dir;
  const std::string lib = CADRO_TEST_MAIL_PROVIDER;
  const std::string missing = dir.file("missing.so");
  struct Case {
    std::string path;
    std::string script;
    std::string expected;  // the start of outcome()
  };
  const std::vector<Case> cases = {
      {lib, "", "provider"},
      {missing, "", "LoadLibrary(" + missing + ")failed | " + missing},
      {"", "", "LoadLibrary()failed | The setting MAIL_PROVIDERW_DLL is empty"},
      // A library without the export.
      {"libm.so.6", "", "Library libm.so.6 is corrupt | "},
      {lib, "instance null", "Library " + lib + " is corrupt | getMailMngProviderInstance returned no provider"},
      {lib, "version 7", "Library " + lib + " is corrupt | mail provider interface version 7, this program's 1"},
      {lib, "instance throw", "the test provider refuses to start"},
  };
  for (const Case& c : cases) {
    MailProviderScript script(c.script);
    std::string got = outcome([&] { return mailmng::loadProviderLibrary(text::fromUtf8(c.path)); });
    EXPECT_EQ(got.substr(0, c.expected.size()), c.expected) << c.path << " / " << c.script;
    if (c.expected != "provider") {
      EXPECT_TRUE(got.ends_with("@mailmng::imailmngprovider::load")) << got;
    }
    // A provider of another version is given back at once.
    std::vector<std::string> calls = script.takeCalls();
    if (c.script == "version 7") {
      EXPECT_EQ(calls, (std::vector<std::string>{"instance", "release"}));
    }
  }
}

TEST(MailProviderLoad, TheManagementServiceNamesTheLibrary) {
  struct Case {
    std::string settings;
    std::string expected;
  };
  const Case cases[] = {
      {"MAIL_PROVIDERW_DLL = " + std::string(CADRO_TEST_MAIL_PROVIDER) + "\n", "provider"},
      {"", "Setting MAIL_PROVIDERW_DLL is not defined"},
  };
  MailProviderScript script;
  for (const Case& c : cases) {
    ServiceProcess service("[settings]\n" + c.settings);
    CadroSrvClient::resetInstance();
    std::string got = outcome([] { return mailmng::imailmngprovider::load(); });
    EXPECT_NE(got.find(c.expected), std::string::npos) << got;
    if (c.expected != "provider") {
      EXPECT_TRUE(got.ends_with("@mailmng::imailmngprovider::load")) << got;
    }
  }
  CadroSrvClient::resetInstance();
  EXPECT_EQ(script.takeCalls(), (std::vector<std::string>{"instance", "release"}));
}
