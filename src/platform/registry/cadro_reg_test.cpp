// cadro-reg end to end: the built binary against a private system root.
#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "platform/registry/registry_store.h"
#include "platform/text/text_codec.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

using testing_support::readFile;
using testing_support::ScopedSystemRoot;
using testing_support::writeFile;

namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

ToolRun reg(const std::vector<std::string>& args) {
  testing_support::ProcessResult r = testing_support::runProcess(testing_support::binaryPath("cadro-reg"), args);
  return {r.exitCode, r.out, r.err};
}

const std::string kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";
const std::string kDone = "The operation completed successfully.\n";
const std::string kConfig = "HKLM\\SOFTWARE\\Cadro\\CDR Config\\Config";

class CadroRegTest : public ::testing::Test {
 protected:
  void add(const std::vector<std::string>& args) {
    std::vector<std::string> full{"add"};
    full.insert(full.end(), args.begin(), args.end());
    ToolRun r = reg(full);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out, kDone);
  }
  ScopedSystemRoot root;
};

}  // namespace

TEST_F(CadroRegTest, QueryPrintsKeysAndValuesByteForByte) {
  add({kConfig, "/v", "Debug", "/t", "REG_DWORD", "/d", "26"});
  add({kConfig, "/v", "Limit", "/t", "reg_qword", "/d", "0x1F", "/f"});
  add({kConfig, "/v", "LastStatisticsRun", "/d", "2024/01/02 03:04:05"});
  add({kConfig, "/v", "Save", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%/x"});
  add({kConfig, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0b c"});
  add({kConfig, "/v", "Raw", "/t", "REG_BINARY", "/d", "00ff10"});
  add({kConfig, "/ve", "/d", "default"});
  add({kConfig + "\\Statistics\\DomainIds\\7", "/v", "OfflineLockStatus", "/t", "REG_DWORD", "/d", "0"});

  ToolRun r = reg({"query", "hklm\\software\\cadro\\cdr config\\config"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "HKEY_LOCAL_MACHINE\\software\\cadro\\cdr config\\config\n"
            "    Debug    REG_DWORD    0x1a\n"
            "    Limit    REG_QWORD    0x1f\n"
            "    LastStatisticsRun    REG_SZ    2024/01/02 03:04:05\n"
            "    Save    REG_EXPAND_SZ    %TEMP%/x\n"
            "    List    REG_MULTI_SZ    a\\0b c\n"
            "    Raw    REG_BINARY    00FF10\n"
            "    (Default)    REG_SZ    default\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\software\\cadro\\cdr config\\config\\Statistics\n");
  EXPECT_EQ(r.err, "");

  r = reg({"query", kConfig + "\\Statistics", "/s"});
  EXPECT_EQ(r.out,
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics\\DomainIds\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics\\DomainIds\\7\n"
            "    OfflineLockStatus    REG_DWORD    0x0\n");

  r = reg({"query", kConfig, "/v", "DEBUG"});
  EXPECT_EQ(r.out, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config\n    Debug    REG_DWORD    0x1a\n");
  r = reg({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE", "/v", "offlinelockstatus", "/s"});
  EXPECT_EQ(r.out,
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics\\DomainIds\\7\n"
            "    OfflineLockStatus    REG_DWORD    0x0\n");
  r = reg({"query", kConfig, "/ve"});
  EXPECT_EQ(r.out, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config\n    (Default)    REG_SZ    default\n");

  for (const std::vector<std::string>& missing :
       {std::vector<std::string>{"query", "HKLM\\SOFTWARE\\Nothing"}, {"query", kConfig, "/v", "Nothing"},
        {"query", kConfig + "\\Statistics", "/ve"}, {"query", "HKLM\\SOFTWARE", "/v", "Nothing", "/s"},
        {"delete", "HKLM\\SOFTWARE\\Nothing", "/f"}, {"delete", kConfig, "/v", "Nothing"},
        {"export", "HKLM\\SOFTWARE\\Nothing", root.file("x.reg")}}) {
    r = reg(missing);
    EXPECT_EQ(r.status, 1) << missing[1];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kNotFound);
  }
}

TEST_F(CadroRegTest, AddAndDeleteForms) {
  add({kConfig});  // the key alone
  EXPECT_TRUE(registry::exists(HKEY_LOCAL_MACHINE, registry::kConfigKey));
  add({kConfig, "/v", "Max", "/t", "REG_DWORD", "/d", "4294967295"});
  uint32_t v = 0;
  EXPECT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Max", v, 0), 0u);
  EXPECT_EQ(v, 0xFFFFFFFFu);
  add({kConfig, "/d", "implicit default"});
  EXPECT_EQ(registry::getstr(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"", REG_SZ), L"implicit default");
  add({kConfig, "/v", "Empty"});
  EXPECT_EQ(registry::getstr(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Empty", REG_SZ), L"");

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"add", kConfig, "/v", "X", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", kConfig, "/v", "X", "/t", "REG_DWORD", "/d", "12abc"},
        {"add", kConfig, "/v", "X", "/t", "REG_BINARY", "/d", "abc"},
        {"add", kConfig, "/v", "X", "/t", "REG_STRING"}}) {
    ToolRun r = reg(bad);
    EXPECT_EQ(r.status, 1) << bad.back();
    EXPECT_EQ(r.err.substr(0, 7), "ERROR: ") << r.err;
  }
  EXPECT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"X", v, 0), winerr::kFileNotFound);

  // Usage errors print the usage text.
  for (const std::vector<std::string>& usage :
       {std::vector<std::string>{}, {"frobnicate"}, {"query"}, {"query", kConfig, "/v"},
        {"query", kConfig, "/v", "a", "/ve"}, {"query", kConfig, "/t", "REG_SZ"}, {"delete", kConfig, "/va", "/ve"},
        {"add", kConfig, "extra"}, {"export", kConfig}}) {
    ToolRun r = reg(usage);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Usage: cadro-reg query KEY"), std::string::npos) << r.err;
  }
  ToolRun r = reg({"query", "HKCU\\Software"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: Invalid key name.\n");
  r = reg({"/?"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage:"), std::string::npos);

  add({kConfig + "\\Sub", "/v", "A"});
  EXPECT_EQ(reg({"delete", kConfig, "/v", "max", "/f"}).out, kDone);
  EXPECT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Max", v, 0), winerr::kFileNotFound);
  EXPECT_EQ(reg({"delete", kConfig, "/ve"}).status, 0);
  EXPECT_EQ(reg({"delete", kConfig, "/ve"}).err, kNotFound);
  EXPECT_EQ(reg({"delete", kConfig, "/va"}).status, 0);
  EXPECT_EQ(reg({"query", kConfig}).out,
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config\n\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config\\Sub\n");
  EXPECT_EQ(reg({"delete", "HKLM\\SOFTWARE\\Cadro"}).status, 0);
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Cadro"));
  EXPECT_EQ(reg({"delete", "HKLM"}).status, 1);
}

TEST_F(CadroRegTest, ExportedTreeRoundTripsThroughImport) {
  add({kConfig, "/v", "Debug", "/t", "REG_DWORD", "/d", "1"});
  add({kConfig, "/v", "Name \"quoted\" \\", "/d", "C:\\path \"x\""});
  add({kConfig, "/v", "Long", "/t", "REG_BINARY", "/d", std::string(200, 'a')});
  add({kConfig, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "one\\0two"});
  add({kConfig, "/v", "Exp", "/t", "REG_EXPAND_SZ", "/d", "%HOME%"});
  add({kConfig + "\\Packages\\cdr.bu", "/ve", "/d", "legacy"});
  add({kConfig + "\\Statistics\\DomainIds\\12", "/v", "LastHttpStatisticsRun", "/d", "2024/01/01 00:00:00"});
  // Values of odd sizes that only an export in bytes keeps.
  ASSERT_TRUE(registry::RegistryStore::system()
                  .updateKey(registry::splitKeyPath(L"SOFTWARE\\Cadro\\CDR Config\\Config"), false,
                             [](registry::KeyFile& k) {
                               k.set({L"Odd", REG_DWORD, std::string("\x01\x02", 2)});
                               k.set({L"Text\nLines", REG_SZ, registry::encodeString(L"a\r\nb")});
                               return registry::StoreStatus::success();
                             })
                  .ok());

  std::string exported = root.file("cadro.reg");
  ToolRun r = reg({"export", "HKLM\\software\\cadro", exported});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string first = readFile(exported);
  EXPECT_EQ(first.substr(0, 38), "Windows Registry Editor Version 5.00\n\n");
  EXPECT_NE(first.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config]\n\"Debug\"=dword:00000001\n"),
            std::string::npos)
      << first;
  std::string before = reg({"query", "HKLM\\SOFTWARE\\Cadro", "/s"}).out;

  ASSERT_EQ(reg({"delete", "HKLM\\SOFTWARE\\Cadro", "/f"}).status, 0);
  r = reg({"import", exported});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(reg({"query", "HKLM\\SOFTWARE\\Cadro", "/s"}).out, before);
  ASSERT_EQ(reg({"export", "HKLM\\SOFTWARE\\Cadro", exported}).status, 0);
  EXPECT_EQ(readFile(exported), first);

  // Deletions in an import.
  writeFile(root.file("delete.reg"),
            "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics]\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config]\n\"Debug\"=-\n\"Added\"=\"yes\"\n");
  ASSERT_EQ(reg({"import", root.file("delete.reg")}).status, 0);
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, registry::kStatisticsKey));
  uint32_t v = 0;
  EXPECT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Debug", v, 0), winerr::kFileNotFound);
  EXPECT_EQ(registry::getstr(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"Added", REG_SZ), L"yes");
}

TEST_F(CadroRegTest, MalformedImportChangesNothing) {
  add({kConfig, "/v", "Debug", "/t", "REG_DWORD", "/d", "1"});
  ASSERT_EQ(reg({"export", "HKLM\\SOFTWARE", root.file("before.reg")}).status, 0);
  std::string file = root.file("bad.reg");
  writeFile(file,
            "Windows Registry Editor Version 5.00\n"
            "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro]\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\n"
            "\"A\"=dword:00000001\n"
            "\"B\"=dword:xyz\n");
  ToolRun r = reg({"import", file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: " + file + " line 5: dword: needs 1 to 8 hex digits (nothing was imported)\n");
  EXPECT_TRUE(registry::exists(HKEY_LOCAL_MACHINE, registry::kConfigKey));
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\New"));
  ASSERT_EQ(reg({"export", "HKLM\\SOFTWARE", root.file("after.reg")}).status, 0);
  EXPECT_EQ(readFile(root.file("after.reg")), readFile(root.file("before.reg")));

  r = reg({"import", root.file("missing.reg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Cannot read"), std::string::npos);
}

TEST_F(CadroRegTest, KeyNamesOver255CharactersAreRefused) {
  // Such a key would end the enumeration of DomainIds and hide every domain after it.
  const std::string domains = kConfig + "\\Statistics\\DomainIds";
  add({domains + "\\" + std::string(255, 'x')});
  const std::string tooLong = domains + "\\" + std::string(256, 'x');
  for (const std::vector<std::string>& args : {std::vector<std::string>{"add", tooLong},
                                               {"add", tooLong + "\\Sub", "/v", "A", "/d", "1"}}) {
    ToolRun r = reg(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: The parameter is incorrect. (Error code 87)\n");
  }
  const std::string file = root.file("long.reg");
  writeFile(file, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Before]\n\n[" +
                      std::string("HKEY_LOCAL_MACHINE\\") + tooLong.substr(5) + "]\n\"A\"=\"1\"\n");
  ToolRun r = reg({"import", file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: " + file + " line 5: a key name is longer than 255 characters (nothing was imported)\n");
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Before"));
  EXPECT_EQ(reg({"query", domains}).out, "HKEY_LOCAL_MACHINE" + domains.substr(4) + "\n\nHKEY_LOCAL_MACHINE" +
                                             domains.substr(4) + "\\" + std::string(255, 'x') + "\n");
}

TEST_F(CadroRegTest, DamagedKeyIsNamedWithItsFile) {
  add({kConfig, "/v", "Debug", "/t", "REG_DWORD", "/d", "1"});
  std::string keyFile =
      registry::RegistryStore::system().keyFilePath(registry::splitKeyPath(L"SOFTWARE\\Cadro\\CDR Config\\Config"));
  writeFile(keyFile, "cadro-registry-key 1\nkey \"Config\"\n\"Debug\" REG_DWORD 0x1\nend\n");
  ToolRun r = reg({"query", kConfig});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: Damaged registry key file '" + keyFile +
                       "' (line 3: a REG_DWORD needs 8 hex digits)\n");
  EXPECT_EQ(reg({"query", "HKLM\\SOFTWARE\\Cadro"}).status, 0);
  // Writing the damaged value anew mends the key.
  EXPECT_EQ(reg({"add", kConfig, "/v", "Debug", "/t", "REG_DWORD", "/d", "0"}).status, 0);
  EXPECT_EQ(reg({"query", kConfig}).out, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cadro\\CDR Config\\Config\n    Debug    REG_DWORD    0x0\n");
}
