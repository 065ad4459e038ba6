// The site settings over metabase files: sites found by their comment in any case, the
// directory expanded and numbered, the default documents, the faults of single sites, and
// the failed bindings (no file, not XML, not a metabase, another machine).
#include "traffic/iis_site_settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <string>

#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"

using namespace testing_support;

namespace {

const char kMetabase[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- The comments below differ from the domain names in case. -->
<W3SVC>
  <Site Id="1" ServerComment="Default Web Site" LogFileDirectory="/var/log/w3svc">
    <Root Class="IIsWebVirtualDir" DefaultDoc="Default.htm,index.html"/>
  </Site>
  <Site Id="5" ServerComment="Alpha.COM" LogFileDirectory="%CADRO_TEST_LOGS%/iis/">
    <Root Class="IIsWebVirtualDir" DefaultDoc="index.php"/>
  </Site>
  <Site Id="6" ServerComment="noroot.com" LogFileDirectory="/l"/>
  <Site Id="7" ServerComment="ftp.com" LogFileDirectory="%UNSET_IN_TESTS%/l">
    <Root Class="IIsFtpVirtualDir" DefaultDoc="a.htm"/>
  </Site>
  <Site Id="8" ServerComment="twice.com" LogFileDirectory="/old"/>
  <Site Id="9" ServerComment="TWICE.com" LogFileDirectory="/new"><Root Class="IIsWebVirtualDir" DefaultDoc=""/></Site>
  <Site Id="010" ServerComment="padded.com" LogFileDirectory="/p"/>
  <Site Id="11" ServerComment="unset.com"><Root Class="IIsWebVirtualDir"/></Site>
  <Site ServerComment="noid.com" LogFileDirectory="/x"/>
  <Filters Id="12" ServerComment="filters.com"/>
  <Site Id="13" ServerComment="b&#xFC;cher.de" LogFileDirectory="/b">
    <Root Class="IIsWebVirtualDir" DefaultDoc="a,b,,c"/>
  </Site>
</W3SVC>
)";

constexpr const wchar_t* kFails = L"(fails)";

class IIsSiteSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { env_.set("CADRO_TEST_LOGS", "/srv/logs"); }

  void writeMetabase(const std::string& xml, const std::string& relative = "iis/metabase.xml") {
    writeFile(root_.file(relative), xml);
  }
  void setMachine(const std::wstring& name) {
    registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"IIsMachineName", name);
  }

  ScopedSystemRoot root_;
  ScopedEnvironment env_;
};

// The answer, or kFails after checking the failure's message and context.
std::wstring answerOf(const std::function<std::wstring()>& ask, const std::wstring& message, const char* operation,
                      const std::wstring& cause = L"") {
  try {
    return ask();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), message);
    EXPECT_EQ(e.contexts().back().operation, operation);
    EXPECT_NE(e.contexts().back().text.find(cause), std::wstring::npos) << text::toUtf8(e.contexts().back().text);
    return kFails;
  }
}

std::wstring logDirectory(IIsSiteSettings& settings, const std::wstring& name, const std::wstring& cause = L"") {
  return answerOf([&] { return settings.getDomainLogDirectory(name); }, L"getDomainLogDirectory for domain = " + name,
                  "getDomainLogDirectory", cause);
}

std::wstring defaultDoc(IIsSiteSettings& settings, const std::wstring& name, const std::wstring& cause = L"") {
  return answerOf([&] { return settings.getDomainDefaultDoc(name); }, L"getDomainDefaultDoc for domain = " + name,
                  "getDomainDefaultDoc", cause);
}

TEST_F(IIsSiteSettingsTest, SitesAreFoundByTheirCommentAndAnswerTheirDirectoryAndDocuments) {
  writeMetabase(kMetabase);
  IIsSiteSettings settings;
  const struct {
    const wchar_t* name;
    const wchar_t* directory;
    const wchar_t* documents;
  } cases[] = {
      {L"", L"/var/log/w3svc/W3SVC1", L"Default.htm index.html"},
      {L"alpha.com", L"/srv/logs/iis/W3SVC5", L"index.php"},
      {L"ALPHA.com", L"/srv/logs/iis/W3SVC5", L"index.php"},
      {L"default web site", L"/var/log/w3svc/W3SVC1", L"Default.htm index.html"},
      {L"noroot.com", L"/l/W3SVC6", kFails},
      {L"ftp.com", L"%UNSET_IN_TESTS%/l/W3SVC7", kFails},
      {L"twice.com", L"/new/W3SVC9", L""},  // the later of two equal comments
      {L"padded.com", kFails, kFails},      // "010" is site 10, and there is no child "10"
      {L"unset.com", kFails, kFails},
      {L"bücher.de", L"/b/W3SVC13", L"a b  c"},
      {L"unknown.com", L"", L""},
      {L"noid.com", L"", L""},
      {L"filters.com", L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::toUtf8(c.name));
    EXPECT_EQ(logDirectory(settings, c.name), c.directory);
    EXPECT_EQ(defaultDoc(settings, c.name), c.documents);
  }
  EXPECT_EQ(settings.containerPath(), L"IIS://localhost/W3SVC");
  EXPECT_EQ(defaultDoc(settings, L"noroot.com", L"IIS://localhost/W3SVC/6/Root does not exist"), kFails);
  EXPECT_EQ(defaultDoc(settings, L"ftp.com", L"is of class 'IIsFtpVirtualDir', not IIsWebVirtualDir"), kFails);
  EXPECT_EQ(logDirectory(settings, L"padded.com", L"The web site IIS://localhost/W3SVC/10 does not exist"), kFails);
  EXPECT_EQ(logDirectory(settings, L"unset.com", L"LogFileDirectory"), kFails);

  // Bound once: a site added to the file during the run is not seen.
  writeMetabase(R"(<W3SVC><Site Id="20" ServerComment="late.com" LogFileDirectory="/z"/></W3SVC>)");
  EXPECT_EQ(logDirectory(settings, L"late.com"), L"");
  EXPECT_EQ(logDirectory(settings, L"alpha.com"), L"/srv/logs/iis/W3SVC5");
}

TEST_F(IIsSiteSettingsTest, AFailedBindingFailsEveryQuestionOfTheRunWithItsCause) {
  const struct {
    const char* label;
    const char* xml;  // null: no file
    const wchar_t* cause;  // after "Unable to bind IIS://localhost/W3SVC: "
  } cases[] = {
      {"missing file", nullptr, L""},  // the file's own failure, checked below
      {"truncated XML", "<W3SVC><Site Id=\"1\" ServerComment=\"a\"", L"The metabase is not well-formed XML"},
      {"mismatched tags", "<W3SVC><Site Id='1'></Root></W3SVC>", L"The metabase is not well-formed XML"},
      {"empty file", "", L"The metabase is not well-formed XML"},
      {"another root", "<Sites><Site Id='1'/></Sites>", L"The metabase's root element is 'Sites', not 'W3SVC'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScopedSystemRoot root;
    if (c.xml) writeFile(root.file("iis/metabase.xml"), c.xml);
    IIsSiteSettings settings;
    const std::wstring cause = std::wstring(L"Unable to bind IIS://localhost/W3SVC: ") + c.cause;
    EXPECT_EQ(logDirectory(settings, L"a.com", cause), kFails);
    // The binding is not tried again: a good file now changes nothing for this run.
    writeFile(root.file("iis/metabase.xml"), kMetabase);
    if (!c.xml) {
      EXPECT_EQ(defaultDoc(settings, L"", L"at CreateFile '" + text::fromUtf8(root.file("iis/metabase.xml")) + L"'"),
                kFails);
    }
    EXPECT_EQ(defaultDoc(settings, L"", cause), kFails);
    EXPECT_EQ(logDirectory(settings, L"", cause), kFails);
    IIsSiteSettings nextRun;
    EXPECT_EQ(logDirectory(nextRun, L""), L"/var/log/w3svc/W3SVC1");
  }
}

TEST_F(IIsSiteSettingsTest, TheMachineNameChoosesTheMetabaseFile) {
  char host[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  writeMetabase(kMetabase);
  writeMetabase(R"(<W3SVC><Site Id="1" LogFileDirectory="/web02"/></W3SVC>)", "iis/web02/metabase.xml");
  const struct {
    std::wstring machine;  // empty: the value is removed
    const wchar_t* directory;
    const wchar_t* cause;
  } cases[] = {
      {L"", L"/var/log/w3svc/W3SVC1", L""},  // a value of another type cannot be read
      {L"LocalHost", L"/var/log/w3svc/W3SVC1", L""},
      {text::toUpper(text::fromUtf8(host)), L"/var/log/w3svc/W3SVC1", L""},
      {L"web02", L"/web02/W3SVC1", L""},
      {L"web03", kFails, L"Unable to bind IIS://web03/W3SVC"},
      {L"..", kFails, L"names no metabase"},
      {L"../iis", kFails, L"names no metabase"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::toUtf8(c.machine));
    if (c.machine.empty())
      registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"IIsMachineName", uint32_t{1});  // unreadable
    else
      setMachine(c.machine);
    IIsSiteSettings settings;
    EXPECT_EQ(logDirectory(settings, L"", c.cause), c.directory);
  }
}

}  // namespace

namespace {

TEST(IIsMetabaseParse, ReadsEitherEncodingAndCharacterReferencesButNoOtherFiles) {
  const std::string utf16 = text::toUtf16le(L"\uFEFF<W3SVC><Site Id=\"2\" ServerComment=\"b\u00FCcher.de\"/></W3SVC>");
  const struct {
    const char* label;
    std::string xml;
    const wchar_t* comment;
  } cases[] = {
      {"UTF-16 with a byte-order mark", utf16, L"bücher.de"},
      {"character references", R"(<W3SVC><Site Id="2" ServerComment="b&#xFC;cher&amp;&quot;"/></W3SVC>)", L"bücher&\""},
      {"an external entity stays unexpanded",
       R"(<!DOCTYPE W3SVC [<!ENTITY x SYSTEM "file:///etc/hostname">]>)"
       R"(<W3SVC><Site Id="2" ServerComment="&x;"/></W3SVC>)",
       L"&x;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    IIsMetabase metabase = IIsMetabase::parse(c.xml);
    ASSERT_EQ(metabase.sites().size(), 1u);
    EXPECT_EQ(metabase.sites()[0].serverComment, c.comment);
    EXPECT_EQ(metabase.child(L"2"), &metabase.sites()[0]);
    EXPECT_EQ(metabase.child(L"02"), nullptr);
  }
}

}  // namespace
