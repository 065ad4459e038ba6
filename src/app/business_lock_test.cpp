#include "app/business_lock.h"
#include "app/domain_info.h"

#include <fcntl.h>
#include <signal.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/registry/registry.h"
#include "testing/temp_dir.h"

using BusinessLock::RegistryLock;
using BusinessLock::RegistryOfflineLockStatus;

namespace {

const std::wstring kKey = registry::domainKey(L"42");
const std::wstring kValue = L"OfflineLockStatus";

uint32_t storedState() {
  uint32_t v = 0xFFFFFFFF;
  registry::lookup(HKEY_LOCAL_MACHINE, kKey, kValue, v, 0);
  return v;
}

RegistryOfflineLockStatus state() { return RegistryOfflineLockStatus(HKEY_LOCAL_MACHINE, kKey, kValue); }

// A probe process whose standard output the test reads line by line.
class Probe {
 public:
  explicit Probe(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      std::vector<char*> argv;
      std::string program = testing_support::binaryPath("cadro-lock-probe");
      argv.push_back(program.data());
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fdopen(fds[0], "r");
  }
  ~Probe() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      reap();
    }
    if (out_) fclose(out_);
  }
  std::string line() {
    char buf[512];
    return fgets(buf, sizeof buf, out_) ? std::string(buf) : std::string("<eof>");
  }
  void kill9() {
    kill(pid_, SIGKILL);
    reap();
  }
  int reap() {
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

class BusinessLockTest : public ::testing::Test {
 protected:
  void SetUp() override { registry::deleteTree(HKEY_LOCAL_MACHINE, kKey); }
};

class BusinessLockProcesses : public BusinessLockTest {};

}  // namespace

TEST_F(BusinessLockTest, LockWritesThePidAndUnlockClearsIt) {
  RegistryLock lock(state(), BusinessLock::kBusinessLockMutex);
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, kKey));  // a missing key means free
  lock.lock();
  EXPECT_TRUE(lock.locked());
  EXPECT_EQ(storedState(), static_cast<uint32_t>(getpid()));
  lock.lock();  // taking a held lock again succeeds at once
  lock.unlock();
  EXPECT_EQ(storedState(), 0u);
  try {
    lock.unlock();
    FAIL();
  } catch (const BusinessLock::SyncronizationException& e) {
    EXPECT_EQ(e.message(), L"Object has not been locked");
    EXPECT_EQ(e.contexts().at(0).operation,
              "BusinessLock::PessimisticOfflinelLock<unsigned long,class BusinessLock::RegistryOfflineLockStatus>::unlock");
  }
}

TEST_F(BusinessLockTest, SecondLockObjectOfTheSameProcessIsAMisuse) {
  RegistryLock first(state(), BusinessLock::kBusinessLockMutex);
  RegistryLock second(state(), BusinessLock::kBusinessLockMutex);
  first.lock();
  try {
    second.lock();
    FAIL();
  } catch (const BusinessLock::SyncronizationException& e) {
    EXPECT_EQ(e.message(), L"Concurrency syncronization error");
    EXPECT_EQ(e.contexts().at(0).operation,
              "BusinessLock::PessimisticOfflinelLock<unsigned long,class BusinessLock::RegistryOfflineLockStatus>::lock");
  }
  EXPECT_FALSE(second.locked());
}

TEST_F(BusinessLockTest, DestructionReleasesAHeldLock) {
  {
    RegistryLock lock(state(), BusinessLock::kBusinessLockMutex);
    lock.lock();
  }
  EXPECT_EQ(storedState(), 0u);
}

TEST_F(BusinessLockTest, StateOfAnEndedProcessIsTakenOver) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  int status;
  waitpid(child, &status, 0);
  registry::write(HKEY_LOCAL_MACHINE, kKey, kValue, static_cast<uint32_t>(child));
  RegistryLock lock(state(), BusinessLock::kBusinessLockMutex);
  lock.lock();
  EXPECT_EQ(storedState(), static_cast<uint32_t>(getpid()));
}

TEST_F(BusinessLockTest, StateOfALiveUnrelatedProcessStaysLocked) {
  pid_t child = fork();
  if (child == 0) {
    for (;;) pause();
  }
  registry::write(HKEY_LOCAL_MACHINE, kKey, kValue, static_cast<uint32_t>(child));
  RegistryLock lock(state(), BusinessLock::kBusinessLockMutex);
  try {
    lock.lock();
    ADD_FAILURE() << "locked over a live process";
  } catch (const BusinessLock::LockException& e) {
    EXPECT_EQ(e.message(), L"Object has been already locked");
  }
  // Once that process has ended (a zombie not yet reaped counts as ended), the lock is free.
  kill(child, SIGKILL);
  siginfo_t ended {};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOWAIT), 0);  // ended, not reaped
  lock.lock();
  EXPECT_TRUE(lock.locked());
  int status;
  waitpid(child, &status, 0);
}

// A lock held by another user's process (kill(pid, 0) fails with EPERM) is held by a live
// process: the process that asks as an ordinary user sees the superuser's process so.
TEST(BusinessLockHolder, AProcessOfAnotherUserIsAlive) {
  if (geteuid() != 0) {
    struct stat init {};
    if (stat("/proc/1", &init) != 0 || init.st_uid == geteuid()) GTEST_SKIP() << "no process of another user to ask about";
    EXPECT_TRUE(BusinessLock::processExists(1));
    return;
  }
  const pid_t parent = getpid();
  pid_t child = fork();
  if (child == 0) {
    const uid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 || setresuid(nobody, nobody, nobody) != 0)
      _exit(3);
    _exit(BusinessLock::processExists(static_cast<unsigned long>(parent)) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: could not become another user; 1: the live process counted as dead";
}

TEST_F(BusinessLockTest, WrongValueTypeRaises) {
  // A four-byte REG_SZ reaches the type check (a longer one reads as "more data" and free).
  registry::write(HKEY_LOCAL_MACHINE, kKey, kValue, std::wstring(L"1"));
  RegistryLock lock(state(), BusinessLock::kBusinessLockMutex);
  EXPECT_THROW(lock.lock(), vexception);
}

TEST_F(BusinessLockProcesses, ExactlyOneOfTwoSimultaneousLockersWinsEachRound) {
  testing_support::TempDir dir;
  const int rounds = 200;
  for (int round = 0; round < rounds; ++round) {
    std::string start = dir.file("start" + std::to_string(round));
    std::string release = dir.file("release" + std::to_string(round));
    std::vector<std::string> args = {"try", "SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics\\DomainIds\\7",
                                     "OfflineLockStatus", start, release};
    Probe a(args), b(args);
    testing_support::writeFile(start, "");
    std::string ra = a.line(), rb = b.line();
    int winners = (ra == "won\n") + (rb == "won\n");
    EXPECT_EQ(winners, 1) << "round " << round << ": " << ra << " / " << rb;
    std::string loser = ra == "won\n" ? rb : ra;
    EXPECT_EQ(loser, "lost: Object has been already locked\n") << "round " << round;
    testing_support::writeFile(release, "");
    EXPECT_EQ(a.reap(), 0);
    EXPECT_EQ(b.reap(), 0);
  }
}

TEST_F(BusinessLockProcesses, HolderKilledWithSigkillLeavesAStateTheNextLockTakes) {
  Probe holder({"hold", "SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics\\DomainIds\\42", "OfflineLockStatus"});
  ASSERT_EQ(holder.line(), "locked\n");
  pid_t pid = holder.pid();
  EXPECT_EQ(storedState(), static_cast<uint32_t>(pid));
  RegistryLock lock(state(), BusinessLock::kBusinessLockMutex);
  EXPECT_THROW(lock.lock(), BusinessLock::LockException);
  holder.kill9();
  EXPECT_EQ(storedState(), static_cast<uint32_t>(pid));  // the dead holder's number stays
  lock.lock();
  EXPECT_EQ(storedState(), static_cast<uint32_t>(getpid()));
}

TEST_F(BusinessLockProcesses, DomainTrafficLockTakenOnlyWhenFreeAndMaximizeConcurrencyKeepsEligibility) {
  Probe holder({"hold", "SOFTWARE\\Cadro\\CDR Config\\Config\\Statistics\\DomainIds\\42", "OfflineLockStatus"});
  ASSERT_EQ(holder.line(), "locked\n");
  DomainInfo strict(L"42", L"a.com", 0, 3, false);
  EXPECT_FALSE(strict.tryLock(false));
  EXPECT_FALSE(strict.eligible());
  DomainInfo patient(L"42", L"a.com", 0, 3, false);
  EXPECT_FALSE(patient.tryLock(true));
  EXPECT_TRUE(patient.eligible());
  holder.kill9();
  // An ineligible record is not tried again in this run, even when the domain is free now.
  EXPECT_FALSE(strict.tryLock(false));
  EXPECT_TRUE(patient.tryLock(true));
  EXPECT_TRUE(patient.trafficLocked());
  EXPECT_TRUE(patient.tryLock(true));  // already held by this record
}
