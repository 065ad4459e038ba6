#include "platform/registry/registry_store.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "platform/registry/registry.h"
#include "platform/text/text_codec.h"
#include "testing/temp_dir.h"

using namespace registry;
using testing_support::ScopedSystemRoot;

namespace {

StoreStatus setValues(RegistryStore& store, const KeyPath& path, const std::vector<Value>& values) {
  return store.updateKey(path, true, [&](KeyFile& k) {
    for (const Value& v : values) k.set(v);
    return StoreStatus::success();
  });
}

std::vector<std::string> namesIn(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) names.emplace_back(e->d_name);
    closedir(d);
  }
  return names;
}

// The id of a process that has ended.
pid_t endedProcess() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

Value dword(const std::wstring& name, uint32_t v) { return Value{name, REG_DWORD, encodeDword(v)}; }
Value sz(const std::wstring& name, const std::wstring& v) { return Value{name, REG_SZ, encodeString(v)}; }

class RegistryStoreTest : public ::testing::Test {
 protected:
  ScopedSystemRoot root;
  RegistryStore store = RegistryStore::system();
};

}  // namespace

TEST_F(RegistryStoreTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  ASSERT_TRUE(setValues(store, splitKeyPath(L"SOFTWARE\\Cadro\\CDR Config\\Config"), {dword(L"Debug", 1)}).ok());
  // The program writes the same key in capitals; both spellings mean one key and one value.
  ASSERT_TRUE(setValues(store, splitKeyPath(L"SOFTWARE\\CADRO\\CDR Config\\Config"), {dword(L"DEBUG", 2)}).ok());

  KeyFile key;
  ASSERT_TRUE(store.readKey(splitKeyPath(L"software\\cadro\\cdr config\\config"), key).ok());
  EXPECT_EQ(key.name(), L"Config");
  ASSERT_EQ(key.valueCount(), 1u);
  EXPECT_EQ(key.value(0).name, L"Debug");
  EXPECT_EQ(key.value(0).data, encodeDword(2));

  std::vector<std::wstring> names;
  ASSERT_TRUE(store.listSubKeys(splitKeyPath(L"SOFTWARE"), names).ok());
  EXPECT_EQ(names, std::vector<std::wstring>{L"Cadro"});

  // Sub-keys come sorted without regard to case, each in its own spelling.
  for (const wchar_t* n : {L"beta", L"Alpha", L"12", L"GAMMA", L"\u00c4rger"})
    ASSERT_TRUE(store.createKey(splitKeyPath(std::wstring(L"SOFTWARE\\List\\") + n)).ok());
  ASSERT_TRUE(store.createKey(splitKeyPath(L"SOFTWARE\\List\\ALPHA")).ok());
  ASSERT_TRUE(store.listSubKeys(splitKeyPath(L"SOFTWARE\\List"), names).ok());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"12", L"Alpha", L"beta", L"GAMMA", L"\u00c4rger"}));
}

TEST_F(RegistryStoreTest, KeyNamesWithAwkwardCharactersAndLongNames) {
  std::wstring longName(255, L'\u044f');  // 510 bytes of UTF-8, folded already
  std::wstring longMixed = std::wstring(254, L'a') + L"B";
  for (const std::wstring& name : {std::wstring(L".hidden"), std::wstring(L"a/b%c~d"), std::wstring(L"tab\there"),
                                   std::wstring(L"..."), longName, longMixed}) {
    SCOPED_TRACE(text::toUtf8(name));
    KeyPath path{L"SOFTWARE", L"Odd", name};
    ASSERT_TRUE(setValues(store, path, {sz(L"", L"v")}).ok());
    KeyFile key;
    ASSERT_TRUE(store.readKey(path, key).ok());
    EXPECT_EQ(key.name(), name);
  }
  std::vector<std::wstring> names;
  ASSERT_TRUE(store.listSubKeys({L"SOFTWARE", L"Odd"}, names).ok());
  EXPECT_EQ(names.size(), 6u);
  for (const std::wstring& n : names) EXPECT_TRUE(store.keyExists({L"SOFTWARE", L"Odd", n}).ok());

  // One character more is refused as the system refuses it, by the store and the library,
  // at any depth; nothing of the path is created.
  for (const std::wstring& tooLong : {std::wstring(256, L'\u044f'), std::wstring(255, L'a') + L"B"}) {
    EXPECT_EQ(store.createKey({L"SOFTWARE", L"Odd", tooLong}).code, winerr::kInvalidParameter);
    EXPECT_EQ(setValues(store, {L"SOFTWARE", L"New", tooLong, L"Sub"}, {sz(L"", L"v")}).code, winerr::kInvalidParameter);
    EXPECT_EQ(registry::write(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Odd\\" + tooLong, L"v", 1u), winerr::kInvalidParameter);
    try {
      registry::key k(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Odd\\" + tooLong, KEY_ALL_ACCESS, false);
      ADD_FAILURE();
    } catch (const vosexception& e) {
      EXPECT_EQ(e.code(), winerr::kInvalidParameter);
      EXPECT_EQ(e.message().rfind(L"The parameter is incorrect. (Error code 87) at RegCreateKeyEx subKey=SOFTWARE\\Odd\\", 0), 0u)
          << text::toUtf8(e.message());
    }
  }
  EXPECT_EQ(store.keyExists({L"SOFTWARE", L"New"}).code, winerr::kFileNotFound);
  ASSERT_TRUE(store.listSubKeys({L"SOFTWARE", L"Odd"}, names).ok());
  EXPECT_EQ(names.size(), 6u);
}

TEST_F(RegistryStoreTest, DamagedKeyFileIsReportedWithItsPathAndNeverRewritten) {
  KeyPath bad = splitKeyPath(L"SOFTWARE\\Bad");
  KeyPath good = splitKeyPath(L"SOFTWARE\\Good");
  ASSERT_TRUE(setValues(store, bad, {dword(L"A", 1)}).ok());
  ASSERT_TRUE(setValues(store, good, {dword(L"A", 1)}).ok());
  std::string file = store.keyFilePath(bad);
  const std::string damaged = "cadro-registry-key 1\nkey \"Bad\"\n\"A\" REG_DWORD 0x0000\n";  // truncated
  testing_support::writeFile(file, damaged);

  KeyFile key;
  StoreStatus st = store.readKey(bad, key);
  EXPECT_EQ(st.code, kErrorRegistryCorrupt);
  EXPECT_NE(st.detail.find(text::fromUtf8(file)), std::wstring::npos) << text::toUtf8(st.detail);
  EXPECT_NE(st.detail.find(L"line 3"), std::wstring::npos) << text::toUtf8(st.detail);

  EXPECT_EQ(setValues(store, bad, {dword(L"B", 2)}).code, kErrorRegistryCorrupt);
  EXPECT_EQ(testing_support::readFile(file), damaged);

  // The rest of the store is not affected, and the damaged key can still be listed and deleted.
  EXPECT_TRUE(setValues(store, good, {dword(L"B", 2)}).ok());
  std::vector<std::wstring> names;
  ASSERT_TRUE(store.listSubKeys({L"SOFTWARE"}, names).ok());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Bad", L"Good"}));
  EXPECT_TRUE(store.deleteTree(bad).ok());
  EXPECT_EQ(store.keyExists(bad).code, winerr::kFileNotFound);

  // Damaged data of one value: a change of another value keeps that line as it was.
  const std::string badData = "cadro-registry-key 1\nkey \"Bad\"\n\"A\" REG_DWORD hex:zz\nend\n";
  testing_support::writeFile(file, badData);
  EXPECT_EQ(store.readKey(bad, key).code, kErrorRegistryCorrupt);
  ASSERT_TRUE(setValues(store, bad, {dword(L"B", 2)}).ok());
  EXPECT_EQ(testing_support::readFile(file),
            "cadro-registry-key 1\nkey \"Bad\"\n\"A\" REG_DWORD hex:zz\n\"B\" REG_DWORD 0x00000002\nend\n");
  ASSERT_TRUE(setValues(store, bad, {dword(L"a", 3)}).ok());  // writing the damaged value mends it
  ASSERT_TRUE(store.readKey(bad, key).ok());
  EXPECT_EQ(key.valueCount(), 2u);

  // A key directory replaced by a file is damage too, not a crash.
  testing_support::writeFile(root.file("registry/hklm/software/file"), "x");
  EXPECT_EQ(store.readKey({L"SOFTWARE", L"file"}, key).code, kErrorRegistryCorrupt);
}

TEST_F(RegistryStoreTest, DeleteTreeRemovesEverythingAndSweepsLeftovers) {
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(setValues(store, {L"SOFTWARE", L"Tree", L"K" + std::to_wstring(i), L"Sub"}, {dword(L"x", 1)}).ok());
  // A tree that a dead process was still removing.
  const pid_t child = endedProcess();
  testing_support::writeFile(root.file("registry/.trash/" + std::to_string(child) + ".1.1/a/.key"), "x");

  EXPECT_EQ(store.deleteTree({L"software", L"TREE"}).code, 0u);
  EXPECT_EQ(store.keyExists({L"SOFTWARE", L"Tree"}).code, winerr::kFileNotFound);
  EXPECT_EQ(store.deleteTree({L"SOFTWARE", L"Tree"}).code, winerr::kFileNotFound);
  EXPECT_EQ(store.deleteTree({}).code, winerr::kAccessDenied);
  EXPECT_TRUE(store.keyExists({L"SOFTWARE"}).ok());
  EXPECT_FALSE(testing_support::fileExists(root.file("registry/.trash/" + std::to_string(child) + ".1.1")));
}

TEST_F(RegistryStoreTest, SubKeysThatDeadWritersWereBuildingAreSweptWhenTheKeyIsListed) {
  ASSERT_TRUE(store.createKey({L"SOFTWARE", L"DomainIds", L"7"}).ok());
  const std::string parent = root.file("registry/hklm/software/domainids/");
  const std::string dead = ".new." + std::to_string(endedProcess()) + ".3.14";
  const std::string alive = ".new." + std::to_string(getppid()) + ".3.14";  // still being built
  for (const std::string& staging : {dead, alive})
    testing_support::writeFile(parent + staging + "/.key", "cadro-registry-key 1\nkey \"Half\"\nend\n");

  std::vector<std::wstring> names;
  ASSERT_TRUE(store.listSubKeys({L"SOFTWARE", L"DomainIds"}, names).ok());
  EXPECT_EQ(names, std::vector<std::wstring>{L"7"});
  EXPECT_FALSE(testing_support::fileExists(parent + dead));
  EXPECT_TRUE(testing_support::fileExists(parent + alive + "/.key"));
}

TEST_F(RegistryStoreTest, EightProcessesAddingToOneKeyLoseNothing) {
  constexpr int kProcesses = 8;
  constexpr int kValues = 500;
  const std::wstring key = L"SOFTWARE\\Cadro\\Concurrent";
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(go[1]);
      char c;
      (void)!read(go[0], &c, 1);  // all start together when the pipe closes
      int failures = 0;
      for (int v = 0; v < kValues; ++v)
        if (registry::write(HKEY_LOCAL_MACHINE, key, L"p" + std::to_wstring(p) + L"_v" + std::to_wstring(v),
                            static_cast<uint32_t>(p * 1000 + v)) != 0)
          ++failures;
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(go[0]);
  close(go[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  KeyFile k;
  ASSERT_TRUE(store.readKey(splitKeyPath(key), k).ok());
  ASSERT_EQ(k.valueCount(), static_cast<size_t>(kProcesses * kValues));
  for (int p = 0; p < kProcesses; ++p)
    for (int v = 0; v < kValues; v += 50) {
      Value got;
      ASSERT_TRUE(k.find(L"P" + std::to_wstring(p) + L"_V" + std::to_wstring(v), got));
      EXPECT_EQ(got.data, encodeDword(static_cast<uint32_t>(p * 1000 + v)));
    }
}

namespace {

// The content of version v of a key: three values that must always agree.
std::vector<Value> versionValues(uint32_t v) {
  std::wstring payload = L"v" + std::to_wstring(v) + L":" + std::wstring(1500 + v % 700, L'x');
  return {dword(L"Version", v), sz(L"Payload", payload), Value{L"Check", REG_QWORD, encodeQword(~uint64_t{v})}};
}

// The version a key holds, or -1 when its values disagree.
long readVersion(RegistryStore& store, const KeyPath& path, std::wstring& problem) {
  KeyFile k;
  StoreStatus st = store.readKey(path, k);
  if (!st.ok()) {
    problem = L"read failed: " + std::to_wstring(st.code) + L" " + st.detail;
    return -1;
  }
  Value version, payload, check;
  if (!k.find(L"Version", version) || !k.find(L"Payload", payload) || !k.find(L"Check", check) ||
      version.data.size() != 4) {
    problem = L"values missing";
    return -1;
  }
  uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(version.data[0])) |
               static_cast<uint32_t>(static_cast<unsigned char>(version.data[1])) << 8 |
               static_cast<uint32_t>(static_cast<unsigned char>(version.data[2])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(version.data[3])) << 24;
  std::vector<Value> expected = versionValues(v);
  if (payload.data != expected[1].data || check.data != expected[2].data) {
    problem = L"torn key";
    return -1;
  }
  return v;
}

}  // namespace

TEST_F(RegistryStoreTest, WritersKilledAtRandomMomentsLeaveOldOrNewContent) {
  constexpr int kKeys = 3;
  constexpr int kKills = 220;
  std::vector<KeyPath> keys;
  std::vector<long> committed(kKeys, 0);
  for (int k = 0; k < kKeys; ++k) {
    keys.push_back({L"SOFTWARE", L"Kill", L"Key" + std::to_wstring(k)});
    ASSERT_TRUE(setValues(store, keys.back(), versionValues(0)).ok());
  }
  std::mt19937 random(12345);
  for (int round = 1; round <= kKills; ++round) {
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(report[0]);
      RegistryStore mine = RegistryStore::system();
      for (uint32_t v = static_cast<uint32_t>(round) * 100000u;; ++v) {
        uint32_t k = v % kKeys;
        uint32_t started[2] = {k, v};
        (void)!::write(report[1], started, sizeof started);
        setValues(mine, keys[k], versionValues(v));
        // Keys are created and deleted too, with names that need the staging path.
        KeyPath sub = keys[k];
        sub.push_back(L"Sub" + std::to_wstring(v % 5));
        if (v % 2) mine.createKey(sub); else mine.deleteTree(sub);
      }
    }
    close(report[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::map<uint32_t, std::vector<long>> started;  // per key, versions begun in this round
    uint32_t rec[2];
    while (read(report[0], rec, sizeof rec) == static_cast<ssize_t>(sizeof rec)) started[rec[0]].push_back(rec[1]);
    close(report[0]);

    for (int k = 0; k < kKeys; ++k) {
      std::wstring problem;
      long v = readVersion(store, keys[k], problem);
      ASSERT_GE(v, 0) << "round " << round << ": " << text::toUtf8(problem);
      // The key holds what it held before the round or a version this round began; a
      // version other than the last begun one must have been completed before it.
      const std::vector<long>& begun = started[static_cast<uint32_t>(k)];
      bool known = v == committed[k];
      for (long b : begun) known = known || b == v;
      EXPECT_TRUE(known) << "round " << round << " key " << k << " holds " << v;
      committed[k] = v;
      std::vector<std::wstring> subs;
      ASSERT_TRUE(store.listSubKeys(keys[k], subs).ok());
      for (const std::wstring& s : subs) {
        KeyFile sk;
        KeyPath subPath = keys[k];
        subPath.push_back(s);
        EXPECT_TRUE(store.readKey(subPath, sk).ok());
        EXPECT_EQ(sk.name(), s);
      }
    }
  }
  // Listing the keys swept what the killed writers were building.
  for (int k = 0; k < kKeys; ++k) {
    const std::string dir = root.file("registry/hklm/software/kill/key" + std::to_string(k));
    for (const std::string& name : namesIn(dir)) EXPECT_NE(name.rfind(".new.", 0), 0u) << name;
  }
}

TEST_F(RegistryStoreTest, WritesWithFlushingStillWork) {
  setenv("CADRO_REGISTRY_SYNC", "1", 1);
  RegistryStore syncing = RegistryStore::system();
  unsetenv("CADRO_REGISTRY_SYNC");
  EXPECT_TRUE(syncing.syncEnabled());
  ASSERT_TRUE(setValues(syncing, {L"SOFTWARE", L"Synced"}, {dword(L"A", 7)}).ok());
  KeyFile k;
  ASSERT_TRUE(syncing.readKey({L"software", L"synced"}, k).ok());
  EXPECT_EQ(k.valueCount(), 1u);
}
