#include "platform/registry/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/registry/registry_store.h"
#include "platform/text/text_codec.h"
#include "testing/temp_dir.h"

using namespace registry;
using testing_support::ScopedSystemRoot;

namespace {

constexpr HKEY HKLM = HKEY_LOCAL_MACHINE;
const std::wstring kConfig = kConfigKey;

// Stores a value with any type and bytes, as an operator's tool could.
void store(const std::wstring& subKey, const std::wstring& name, uint32_t type, const std::string& data) {
  StoreStatus st = RegistryStore::system().updateKey(splitKeyPath(subKey), true, [&](KeyFile& k) {
    k.set(Value{name, type, data});
    return StoreStatus::success();
  });
  ASSERT_TRUE(st.ok()) << text::toUtf8(st.detail);
}

template <typename F>
std::wstring messageOf(F&& f) {
  try {
    f();
  } catch (const vexception& e) {
    return e.message();
  }
  return L"(no exception)";
}

class RegistryTest : public ::testing::Test {
 protected:
  ScopedSystemRoot root;
};

}  // namespace

TEST_F(RegistryTest, DwordLookupKeepsTheDefaultForMissingOrOversizedValuesAndRaisesForWrongTypes) {
  uint32_t value = 259200;
  EXPECT_EQ(lookup(HKLM, kConfig, L"StatisticsLogExpirationTime", value, 0), winerr::kFileNotFound);
  ASSERT_EQ(write(HKLM, kConfig, L"Other", 1u), 0u);
  EXPECT_EQ(lookup(HKLM, kConfig, L"StatisticsLogExpirationTime", value, 0), winerr::kFileNotFound);
  EXPECT_EQ(value, 259200u);

  // A REG_SZ longer than four bytes does not fit the reader's buffer: the caller keeps its default.
  store(kConfig, L"StatisticsLogExpirationTime", REG_SZ, encodeString(L"3600"));
  EXPECT_EQ(lookup(HKLM, kConfig, L"StatisticsLogExpirationTime", value, 0), winerr::kMoreData);
  EXPECT_EQ(value, 259200u);

  store(kConfig, L"StatisticsLogExpirationTime", REG_BINARY, std::string("\x10\x0e\x00\x00", 4));
  EXPECT_EQ(messageOf([&] { lookup(HKLM, kConfig, L"StatisticsLogExpirationTime", value, 0); }),
            L"RegQueryValueEx invalid type of 'SOFTWARE\\Cadro\\CDR Config\\Config\\StatisticsLogExpirationTime'");
  store(kConfig, L"Short", REG_SZ, encodeString(L"x"));
  EXPECT_EQ(messageOf([&] { lookup(HKLM, kConfig, L"Short", value, 0); }),
            L"RegQueryValueEx invalid type of 'SOFTWARE\\Cadro\\CDR Config\\Config\\Short'");
  store(kConfig, L"TwoBytes", REG_DWORD, std::string("\x01\x00", 2));
  EXPECT_EQ(messageOf([&] { lookup(HKLM, kConfig, L"TwoBytes", value, 0); }),
            L"RegQueryValueEx invalid size of 'SOFTWARE\\Cadro\\CDR Config\\Config\\TwoBytes'");
  store(kConfig, L"EightBytes", REG_DWORD, encodeQword(5));
  EXPECT_EQ(lookup(HKLM, kConfig, L"EightBytes", value, 0), winerr::kMoreData);
  EXPECT_EQ(value, 259200u);

  store(kConfig, L"StatisticsLogExpirationTime", REG_DWORD, encodeDword(3600));
  EXPECT_EQ(lookup(HKLM, L"software\\CADRO\\cdr config\\config", L"statisticslogexpirationtime", value, 3), 0u);
  EXPECT_EQ(value, 3600u);
}

TEST_F(RegistryTest, StringLookupExpandsOnlyExpandableStrings) {
  setenv("CADRO_TEST_LOGS", "/srv/logs", 1);
  store(kConfig, L"SaveHTTPLogsDirectory", REG_EXPAND_SZ, encodeString(L"%CADRO_TEST_LOGS%/http"));
  store(kConfig, L"SaveFTPLogsDirectory", REG_SZ, encodeString(L"%CADRO_TEST_LOGS%/ftp"));
  std::wstring out;
  ASSERT_EQ(lookup(HKLM, kConfig, L"SaveHTTPLogsDirectory", out, REG_SZ, 0), 0u);
  EXPECT_EQ(out, L"/srv/logs/http");
  ASSERT_EQ(lookup(HKLM, kConfig, L"SaveFTPLogsDirectory", out, REG_EXPAND_SZ, 0), 0u);
  EXPECT_EQ(out, L"%CADRO_TEST_LOGS%/ftp");
  unsetenv("CADRO_TEST_LOGS");

  // The text ends at the first NUL, also when the stored data has no terminator at all.
  store(kConfig, L"Cut", REG_SZ, text::toUtf16le(L"ab") + std::string(2, '\0') + text::toUtf16le(L"cd"));
  ASSERT_EQ(lookup(HKLM, kConfig, L"Cut", out, REG_SZ, 0), 0u);
  EXPECT_EQ(out, L"ab");
  store(kConfig, L"Unterminated", REG_SZ, text::toUtf16le(L"xyz") + "\x41");
  ASSERT_EQ(lookup(HKLM, kConfig, L"Unterminated", out, REG_SZ, 0), 0u);
  EXPECT_EQ(out, L"xyz");

  out = L"kept";
  EXPECT_EQ(lookup(HKLM, kConfig, L"Missing", out, REG_SZ, 0), winerr::kFileNotFound);
  EXPECT_EQ(out, L"kept");
  store(kConfig, L"Number", REG_DWORD, encodeDword(1));
  EXPECT_EQ(messageOf([&] { lookup(HKLM, kConfig, L"Number", out, REG_SZ, 0); }),
            L"RegQueryValueEx invalid type of 'SOFTWARE\\Cadro\\CDR Config\\Config\\Number'");
}

TEST_F(RegistryTest, ListLookupAndTheRaisingReaders) {
  const std::wstring netLib = L"SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer\\SuperSocketNetLib";
  store(netLib, L"ProtocolList", REG_MULTI_SZ, encodeMultiString({L"tcp", L"np", L"sm"}));
  std::vector<std::wstring> list{L"first"};
  ASSERT_EQ(lookup(HKLM, netLib, L"ProtocolList", list, 0), 0u);
  EXPECT_EQ(list, (std::vector<std::wstring>{L"first", L"tcp", L"np", L"sm"}));
  EXPECT_EQ(getMulti(HKLM, netLib, L"protocollist"), (std::vector<std::wstring>{L"tcp", L"np", L"sm"}));
  store(netLib, L"Plain", REG_SZ, encodeString(L"tcp"));
  EXPECT_EQ(messageOf([&] { lookup(HKLM, netLib, L"Plain", list, 0); }),
            L"RegQueryValueEx invalid type of '" + netLib + L"\\Plain'");

  try {
    getstr(HKLM, kConfig, L"CadroService", REG_SZ);
    FAIL();
  } catch (const VFileNotFoundException& e) {
    EXPECT_EQ(e.code(), 2u);
    EXPECT_NE(e.message().find(L" at lookup subKey=SOFTWARE\\Cadro\\CDR Config\\Config value=CadroService with type 1"),
              std::wstring::npos)
        << text::toUtf8(e.message());
    ASSERT_EQ(e.contexts().size(), 1u);
    EXPECT_EQ(e.contexts()[0].operation, "registry::getstr");
  }
  EXPECT_NE(messageOf([&] { getMulti(HKLM, kConfig, L"ProtocolList"); })
                .find(L" at lookup subKey=SOFTWARE\\Cadro\\CDR Config\\Config value=ProtocolList"),
            std::wstring::npos);
}

TEST_F(RegistryTest, KeyObjectsCreateOpenSetAndTheirFailures) {
  EXPECT_FALSE(exists(HKLM, kDomainStateKey));
  try {
    key k(HKLM, kStatisticsKey, KEY_QUERY_VALUE, true);
    FAIL();
  } catch (const VFileNotFoundException& e) {
    EXPECT_NE(e.message().find(L" at RegOpenKeyEx subKey=" + std::wstring(kStatisticsKey)), std::wstring::npos);
    EXPECT_EQ(e.contexts().at(0).operation, "registry::open");
  }
  {
    key k(HKLM, kDomainStateKey, KEY_ENUMERATE_SUB_KEYS, false);
    EXPECT_TRUE(k.isOpen());
  }
  EXPECT_TRUE(exists(HKLM, L"software\\cadro\\cdr config\\config\\statistics\\domainids"));

  key k(HKLM, kConfig, KEY_ALL_ACCESS, true);
  set(k, L"", std::wstring(L"the default"));
  set(k, L"MailTrafficLockStatus", 4242u);
  std::wstring def;
  ASSERT_EQ(lookup(HKLM, kConfig, L"", def, REG_SZ, 0), 0u);
  EXPECT_EQ(def, L"the default");

  key readOnly(HKLM, kConfig, KEY_QUERY_VALUE, true);
  try {
    set(readOnly, L"Debug", 1u);
    FAIL();
  } catch (const VAccessDeniedException& e) {
    EXPECT_NE(e.message().find(L" at RegSetValueEx valueName=Debug"), std::wstring::npos);
    EXPECT_EQ(e.contexts().at(0).operation, "registry::set");
  }

  // A key deleted while an object holds it.
  key doomed(HKLM, L"SOFTWARE\\Doomed", KEY_ALL_ACCESS, false);
  EXPECT_EQ(deleteTree(HKLM, L"SOFTWARE\\Doomed"), 0u);
  EXPECT_EQ(deleteTree(HKLM, L"SOFTWARE\\Doomed"), winerr::kFileNotFound);
  try {
    set(doomed, L"x", 1u);
    FAIL();
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code(), winerr::kKeyDeleted);
  }

  key closed;
  EXPECT_THROW(set(closed, L"x", 1u), vosexception);
  key moved = std::move(k);
  EXPECT_TRUE(moved.isOpen());
  EXPECT_FALSE(k.isOpen());
}

TEST_F(RegistryTest, WritesNeverRaiseAndCreateTheirKey) {
  EXPECT_EQ(write(HKLM, domainKey(L"17"), L"LastHttpStatisticsRun", std::wstring(L"2024/05/06 07:08:09")), 0u);
  std::wstring stamp;
  ASSERT_EQ(lookup(HKLM, L"SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics\\DomainIds\\17", L"LastHttpStatisticsRun",
                   stamp, REG_SZ, 0),
            0u);
  EXPECT_EQ(stamp, L"2024/05/06 07:08:09");
  EXPECT_EQ(write(0x80000001u, kConfig, L"Debug", 1u), winerr::kInvalidHandle);
  EXPECT_EQ(write(HKLM, kConfig, std::wstring(kMaxNameLength + 1, L'n'), 1u), winerr::kInvalidParameter);

  // A store that cannot be written: the result says so.
  testing_support::writeFile(root.file("registry/hklm/system"), "not a directory");
  EXPECT_EQ(write(HKLM, L"SYSTEM\\Cadro", L"Debug", 1u), winerr::kRegistryCorrupt);
  uint32_t v = 9;
  EXPECT_EQ(lookup(HKLM, L"SYSTEM\\Cadro", L"Debug", v, 0), winerr::kRegistryCorrupt);
  EXPECT_FALSE(exists(HKLM, L"SYSTEM\\Cadro"));
}

TEST_F(RegistryTest, DamagedKeyFileFailsTheKeyOnly) {
  ASSERT_EQ(write(HKLM, kConfig, L"Debug", 1u), 0u);
  ASSERT_EQ(write(HKLM, kStatisticsKey, L"A", 1u), 0u);
  testing_support::writeFile(RegistryStore::system().keyFilePath(splitKeyPath(kConfig)), std::string("\x00garbage", 8));
  uint32_t v = 0;
  EXPECT_EQ(lookup(HKLM, kConfig, L"Debug", v, 0), winerr::kRegistryCorrupt);
  EXPECT_NE(write(HKLM, kConfig, L"Debug", 0u), 0u);
  EXPECT_EQ(lookup(HKLM, kStatisticsKey, L"A", v, 0), 0u);
  try {
    getstr(HKLM, kConfig, L"CadroService", REG_SZ);
    FAIL();
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code(), winerr::kRegistryCorrupt);
  }
}

TEST_F(RegistryTest, EnumerationListsSpellingsAndStopsAtOverlongNames) {
  std::vector<std::wstring> ids;
  EXPECT_THROW(enumDomainIds(ids), VFileNotFoundException);
  createDomainStateKeys();
  createDomainStateKeys();
  EXPECT_EQ(enumDomainIds(ids), 0u);
  EXPECT_TRUE(ids.empty());
  for (const wchar_t* id : {L"3", L"1", L"20", L"Extra"}) ASSERT_EQ(write(HKLM, domainKey(id), L"OfflineLockStatus", 0u), 0u);
  key k(HKLM, kDomainStateKey, KEY_ENUMERATE_SUB_KEYS, true);
  EXPECT_EQ(enumSubKeys(k, ids), 0u);
  EXPECT_EQ(ids, (std::vector<std::wstring>{L"1", L"20", L"3", L"Extra"}));

  // A key of 256 characters, after "1": no longer made, but a store may hold one from before.
  const std::wstring overlong = L"1" + std::wstring(255, L'5');
  EXPECT_EQ(write(HKLM, domainKey(overlong), L"x", 0u), winerr::kInvalidParameter);
  testing_support::writeFile(RegistryStore::system().keyFilePath(splitKeyPath(domainKey(overlong))), KeyFile(overlong).text());
  ids.clear();
  EXPECT_EQ(enumSubKeys(k, ids), winerr::kMoreData);
  EXPECT_EQ(ids, (std::vector<std::wstring>{L"1"}));

  key noEnum(HKLM, kDomainStateKey, KEY_QUERY_VALUE, true);
  EXPECT_EQ(enumSubKeys(noEnum, ids), winerr::kAccessDenied);
  EXPECT_EQ(deleteTree(HKLM, kDomainStateKey), 0u);
  EXPECT_EQ(enumSubKeys(k, ids), winerr::kKeyDeleted);
}

TEST(RegistryPathTest, ProductPathNormalisation) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"C:/Inetpub//vhosts/./x/../", L"C:/Inetpub/vhosts"},
      {L"C:\\Inetpub\\vhosts\\", L"C:/Inetpub/vhosts"},
      {L"/opt/cadro/../cadro/admin/", L"/opt/cadro/admin"},
      {L"a/../../b", L"../b"},
      {L"../../x", L"../../x"},
      {L"//?/C:/a/./b", L"//?/C:/a/b"},
      {L"\\\\.\\pipe\\x", L"//./pipe/x"},
      {L"/", L""},
      {L"///", L""},
      {L"", L""},
      {L"x", L"x"},
  };
  for (const Case& c : cases) EXPECT_EQ(normalizeProductPath(c.in), c.out) << text::toUtf8(c.in);
  EXPECT_EQ(viewFlag(0), 0u);
  EXPECT_EQ(viewFlag(1), KEY_WOW64_32KEY);
  EXPECT_EQ(viewFlag(2), KEY_WOW64_64KEY);
  EXPECT_EQ(viewFlag(3), KEY_WOW64_32KEY);
}
