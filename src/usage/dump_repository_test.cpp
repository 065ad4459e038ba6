// The backup component's repository: how the registry names it (or names none), and the
// shipped plug-in that reads a domain's dumps from its directory.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/report/vexception.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"
#include "testing/temp_dir.h"
#include "usage/dump_repository_loader.h"
#include "usage/usage_test_util.h"

using namespace testing_support;
using namespace usage_testing;

namespace {

const std::wstring kComponent = std::wstring(registry::kPackagesKey) + L"\\cdr.bu";
const std::wstring kPlugin = text::fromUtf8(CADRO_DUMP_DIRECTORY_PLUGIN);

// Packages\cdr.bu with its default value `entry` and, when given, the "provider" of that entry.
void configure(const std::wstring& entry, const wchar_t* provider) {
  registry::deleteTree(HKEY_LOCAL_MACHINE, kComponent);
  registry::write(HKEY_LOCAL_MACHINE, kComponent, L"", entry);
  if (provider) registry::write(HKEY_LOCAL_MACHINE, kComponent + L"\\" + entry, L"provider", std::wstring(provider));
}

class DumpRepository : public ::testing::Test {
 protected:
  void SetUp() override {
    build(dir_.file("dumps"), {{"guid-1/a.tar", Kind::File, 1000},
                               {"guid-1/2024/b.tar", Kind::File, 234},
                               {"guid-1/to-secret", Kind::Link, 0, "../secret"},
                               {"guid-2/x", Kind::File, 5},
                               {"secret", Kind::File, 77}});
    writeFile(sysroot::path("backup/dump_directory.conf"), "\t" + dir_.file("dumps") + " \r\n");
  }
  TempDir dir_;
};

}  // namespace

TEST_F(DumpRepository, TheRegistryNamesTheLibraryOrNone) {
  struct Case {
    const wchar_t* entry;
    const wchar_t* provider;
    const char* expected;  // "none", "repository" or "failure"
  };
  const std::wstring missing = text::fromUtf8(dir_.file("missing.so"));
  const Case cases[] = {
      {L"", kPlugin.c_str(), "none"},         {L"none", kPlugin.c_str(), "none"},
      {L"NoNe", kPlugin.c_str(), "none"},     {L"directory", nullptr, "none"},
      {L"directory", L"", "none"},            {L"directory", L"LEGACY", "none"},
      {L"directory", kPlugin.c_str(), "repository"},
      {L"directory", missing.c_str(), "failure"},
      // A library without the export.
      {L"directory", L"libm.so.6", "failure"},
  };
  for (const Case& c : cases) {
    configure(c.entry, c.provider);
    DumpRepositoryLoader loader;
    std::string got;
    try {
      got = loader.get() ? "repository" : "none";
    } catch (const vexception&) {
      got = "failure";
    }
    EXPECT_EQ(got, c.expected) << text::toUtf8(c.entry) << " / " << (c.provider ? text::toUtf8(c.provider) : "-");
  }

  // "None" is an answer and kept; a failure is not, and is tried again.
  configure(L"none", nullptr);
  DumpRepositoryLoader kept;
  EXPECT_EQ(kept.get(), nullptr);
  configure(L"directory", kPlugin.c_str());
  EXPECT_EQ(kept.get(), nullptr);
  configure(L"directory", missing.c_str());
  DumpRepositoryLoader retried;
  EXPECT_THROW(retried.get(), vexception);
  configure(L"directory", kPlugin.c_str());
  EXPECT_NE(retried.get(), nullptr);
}

TEST_F(DumpRepository, ThePluginSumsTheFilesOfTheDomainsDirectoryOnly) {
  configure(L"directory", kPlugin.c_str());
  DumpRepositoryLoader loader;
  cadro::IDumpRepository* dumps = loader.get();
  ASSERT_NE(dumps, nullptr);
  EXPECT_EQ(dumps->getDomainDumpsSize("guid-1", ""), 1000 + 234 + 9);
  EXPECT_EQ(dumps->getDomainDumpsSize("guid-2", ""), 5);
  EXPECT_EQ(dumps->getDomainDumpsSize("guid-without-dumps", ""), 0);
  for (const char* hostile : {"..", "../dumps", "guid-1/2024", "", "secret\n", "."})
    EXPECT_THROW(dumps->getDomainDumpsSize(hostile, ""), std::invalid_argument) << hostile;

  // Without its settings file the library offers no repository.
  ::unlink(sysroot::path("backup/dump_directory.conf").c_str());
  DumpRepositoryLoader unconfigured;
  EXPECT_EQ(unconfigured.get(), nullptr);
}
