#include "platform/sync/vsync_object.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/report/vexception.h"

TEST(VMutexTest, RecursiveForItsOwnerAndReleaseWithoutOwnershipFails) {
  VMutex named(std::wstring(L"Global\\TestMutex"));
  EXPECT_TRUE(named.lock(-1));
  EXPECT_TRUE(named.lock(0));
  named.unlock();
  named.unlock();
  try {
    named.unlock();
    FAIL();
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code(), 288u);
    EXPECT_NE(e.message().find(L"at ReleaseMutex"), std::wstring::npos);
  }
  VMutex local(std::nullopt, true);
  local.unlock();
  EXPECT_THROW(local.unlock(), vosexception);
}

TEST(VMutexTest, TimesOutWhileAnotherProcessHoldsItAndIsAcquiredWhenTheHolderDies) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    VMutex m(std::wstring(L"Global\\HeldElsewhere"));
    m.lock(-1);
    (void)!write(ready[1], "x", 1);
    for (;;) pause();
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  VMutex mine(std::wstring(L"Global\\HeldElsewhere"));
  EXPECT_FALSE(mine.lock(50));
  ExclusiveTask task;
  task.Initialize(L"Global\\HeldElsewhere", 50);
  EXPECT_TRUE(task.timedOut());
  kill(child, SIGKILL);
  int status;
  waitpid(child, &status, 0);
  // The dead holder's mutex is abandoned, which counts as acquired.
  EXPECT_TRUE(mine.lock(1000));
  mine.unlock();
  close(ready[0]);
  close(ready[1]);
}
