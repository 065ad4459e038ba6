#include "platform/files/vfile.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"
#include "platform/files/vfilename.h"
#include "testing/temp_dir.h"

using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

std::wstring W(const std::string& s) { return text::fromUtf8(s); }

mode_t modeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void setTimes(const std::string& path, time_t mtime) {
  struct timespec times[2] = {{mtime, 0}, {mtime, 250'000'000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// What a caught OS failure says: type, code, message and the innermost operation.
struct Failure {
  uint32_t code = 0;
  std::wstring message;
  std::string operation;
};

template <typename Exception, typename F>
Failure failureOf(F&& body) {
  try {
    body();
  } catch (const Exception& e) {
    return {e.code(), e.message(), e.contexts().empty() ? std::string() : e.contexts().front().operation};
  } catch (const vexception& e) {
    ADD_FAILURE() << "unexpected exception type: " << text::toUtf8(e.message());
    return {};
  }
  ADD_FAILURE() << "no exception";
  return {};
}

struct Account {
  uid_t uid;
  gid_t gid;
};

Account nobody() {
  const struct passwd* pw = ::getpwnam("nobody");
  return pw ? Account{pw->pw_uid, pw->pw_gid} : Account{65534, 65534};
}

// Runs `body` in a child process that permission bits bind: as root the child first
// becomes `account`. Returns what the body returned; a failure inside reads "crash".
std::string runUnprivileged(const Account& account, const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string out = "crash";
    if (::geteuid() != 0 || (::setgroups(0, nullptr) == 0 && ::setgid(account.gid) == 0 &&
                             ::setuid(account.uid) == 0)) {
      try {
        out = body();
      } catch (...) {
      }
    }
    (void)!::write(fds[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

// "<type>:<code>:<message>:<operation>" of a removeFile call, or "removed".
std::string tryRemove(const std::string& path, bool force) {
  try {
    removeFile(W(path), force);
    return fileExists(path) ? "still there" : "removed";
  } catch (const VAccessDeniedException& e) {
    return "denied:" + std::to_string(e.code()) + ":" + text::toUtf8(e.message()) + ":" +
           e.contexts().front().operation;
  } catch (const vexception& e) {
    return "other:" + text::toUtf8(e.message());
  }
}

}  // namespace

TEST(VFile, WritesReadsSeeksAndReportsSizeAndTimes) {
  TempDir dir;
  const std::wstring path = W(dir.file("data.bin"));
  {
    VFile f(path, VFile::Mode::CreateAlways);
    f.write(std::string("hello\0world", 11));
    EXPECT_EQ(f.size(), 11);
    f.flush();
  }
  setTimes(dir.file("data.bin"), 1204288496);
  VFile f(path, VFile::Mode::Read);
  EXPECT_EQ(f.lastWriteTime(), VDateTime(2008, 2, 29, 12, 34, 56, 250));
  EXPECT_EQ(VFile::lastWriteTime(path), VDateTime(2008, 2, 29, 12, 34, 56, 250));
  char buf[32] = {};
  EXPECT_EQ(f.seek(6, VFile::Origin::Begin), 6);
  EXPECT_EQ(f.read(buf, sizeof buf), 5u);
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(f.read(buf, sizeof buf), 0u);
  EXPECT_EQ(f.seek(-5, VFile::Origin::End), 6);
  EXPECT_EQ(f.position(), 6);

  VFile moved = std::move(f);
  EXPECT_FALSE(f.isOpen());
  EXPECT_TRUE(moved.isOpen());
  moved.close();
  moved.close();
  EXPECT_FALSE(moved.isOpen());

  { VFile(path, VFile::Mode::Append).write("!"); }
  { VFile(path, VFile::Mode::OpenAlways).write("H"); }
  EXPECT_EQ(VFile::readAll(path), std::string("Hello\0world!", 12));
}

TEST(VFile, OpenFailuresUseTheSystemCodesAndTexts) {
  TempDir dir;
  writeFile(dir.file("exists.txt"), "x");
  const std::wstring missing = W(dir.file("missing.txt"));

  Failure f = failureOf<VFileNotFoundException>([&] { VFile(missing, VFile::Mode::Read); });
  EXPECT_EQ(f.code, 2u);
  EXPECT_EQ(f.message, L"No such file or directory (Error code 2) at CreateFile '" + missing + L"'");
  EXPECT_EQ(f.operation, "VFile::open");

  f = failureOf<VPathNotFoundException>([&] { VFile(W(dir.file("nodir/a.txt")), VFile::Mode::CreateAlways); });
  EXPECT_EQ(f.code, 3u);
  // A file used as a directory (ENOTDIR) is a missing path as well.
  f = failureOf<VPathNotFoundException>([&] { VFile(W(dir.file("exists.txt/a.txt")), VFile::Mode::Read); });
  EXPECT_EQ(f.code, 3u);
  f = failureOf<VFileExistsException>([&] { VFile(W(dir.file("exists.txt")), VFile::Mode::CreateNew); });
  EXPECT_EQ(f.code, 80u);
  EXPECT_NE(f.message.find(L"(Error code 80) at CreateFile '"), std::wstring::npos);
  f = failureOf<VAccessDeniedException>([&] { VFile(W(dir.path()), VFile::Mode::Read); });
  EXPECT_EQ(f.code, 5u);
  f = failureOf<vosexception>([&] { VFile(std::wstring(L"a\0b", 3), VFile::Mode::Read); });
  EXPECT_EQ(f.code, winerr::kInvalidName);
  // Reading through a closed file is an invalid handle, not a crash.
  VFile closed;
  char c;
  EXPECT_EQ(failureOf<vosexception>([&] { closed.read(&c, 1); }).code, winerr::kInvalidHandle);
}

TEST(VFile, WritesNeverFollowALinkPlantedAtTheTarget) {
  TempDir dir;
  writeFile(dir.file("outside/secret"), "keep");
  ASSERT_EQ(::symlink(dir.file("outside/secret").c_str(), dir.file("planted").c_str()), 0);
  for (VFile::Mode mode : {VFile::Mode::CreateAlways, VFile::Mode::Append, VFile::Mode::ReadWrite}) {
    EXPECT_EQ(failureOf<VAccessDeniedException>([&] { VFile(W(dir.file("planted")), mode); }).code, 5u);
  }
  EXPECT_EQ(readFile(dir.file("outside/secret")), "keep");
  // Reading follows links as usual.
  EXPECT_EQ(VFile::readAll(W(dir.file("planted"))), "keep");
}

TEST(VFile, StatusDescribesTheEntryItself) {
  TempDir dir;
  writeFile(dir.file("f"), "12345");
  ASSERT_EQ(::symlink("f", dir.file("link").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", dir.file("dangling").c_str()), 0);
  VFileStatus s = VFile::status(W(dir.file("f")));
  EXPECT_TRUE(s.exists && !s.isDirectory && !s.isSymlink);
  EXPECT_EQ(s.size, 5);
  s = VFile::status(W(dir.file("link")));
  EXPECT_TRUE(s.exists && s.isSymlink && !s.isDirectory);
  EXPECT_TRUE(VFile::status(W(dir.path())).isDirectory);
  EXPECT_FALSE(VFile::status(W(dir.file("missing"))).exists);
  EXPECT_FALSE(VFile::status(W(dir.file("f/below"))).exists);
  EXPECT_TRUE(VFile::exists(W(dir.file("dangling"))));
  EXPECT_FALSE(VFile::exists(W(dir.file("missing"))));
  EXPECT_FALSE(VFile::exists(L""));
}

TEST(VFile, CopyKeepsContentModeAndTimesAndRefusesOrReplacesTheTarget) {
  TempDir dir;
  writeFile(dir.file("src"), "payload");
  ::chmod(dir.file("src").c_str(), 0640);
  setTimes(dir.file("src"), 1204288496);
  VFile::copy(W(dir.file("src")), W(dir.file("dst")), false);
  EXPECT_EQ(readFile(dir.file("dst")), "payload");
  EXPECT_EQ(modeOf(dir.file("dst")), 0640u);
  EXPECT_EQ(VFile::lastWriteTime(W(dir.file("dst"))), VFile::lastWriteTime(W(dir.file("src"))));

  writeFile(dir.file("src"), "second");
  Failure f = failureOf<VFileExistsException>([&] { VFile::copy(W(dir.file("src")), W(dir.file("dst")), false); });
  EXPECT_EQ(f.code, 80u);
  EXPECT_EQ(readFile(dir.file("dst")), "payload");
  VFile::copy(W(dir.file("src")), W(dir.file("dst")), true);
  EXPECT_EQ(readFile(dir.file("dst")), "second");

  // A link at the target is replaced by the copy; what it pointed to is untouched.
  writeFile(dir.file("victim"), "keep");
  ASSERT_EQ(::symlink(dir.file("victim").c_str(), dir.file("linkdst").c_str()), 0);
  VFile::copy(W(dir.file("src")), W(dir.file("linkdst")), true);
  EXPECT_EQ(readFile(dir.file("victim")), "keep");
  EXPECT_EQ(readFile(dir.file("linkdst")), "second");
  EXPECT_FALSE(VFile::status(W(dir.file("linkdst"))).isSymlink);

  EXPECT_EQ(failureOf<VFileNotFoundException>([&] { VFile::copy(W(dir.file("none")), W(dir.file("x")), true); }).code,
            2u);
  EXPECT_FALSE(fileExists(dir.file("x")));
}

TEST(VFile, MoveRenamesRefusesAnExistingTargetAndCrossesFileSystems) {
  TempDir dir;
  writeFile(dir.file("a"), "A");
  writeFile(dir.file("b"), "B");
  Failure f = failureOf<VAlreadyExistsException>([&] { VFile::move(W(dir.file("a")), W(dir.file("b"))); });
  EXPECT_EQ(f.code, 183u);
  EXPECT_EQ(readFile(dir.file("a")), "A");
  EXPECT_EQ(readFile(dir.file("b")), "B");
  VFile::move(W(dir.file("a")), W(dir.file("c")));
  EXPECT_FALSE(fileExists(dir.file("a")));
  EXPECT_EQ(readFile(dir.file("c")), "A");
  EXPECT_EQ(failureOf<VFileNotFoundException>([&] { VFile::move(W(dir.file("a")), W(dir.file("d"))); }).code, 2u);

  struct stat here, shm;
  if (::stat(dir.path().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev ||
      ::access("/dev/shm", W_OK) != 0)
    GTEST_SKIP() << "no second writable file system (/dev/shm) for the cross-device move";
  char tmpl[] = "/dev/shm/cadro-move-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string other = std::string(tmpl) + "/c";
  setTimes(dir.file("c"), 1204288496);
  VFile::move(W(dir.file("c")), W(other));
  EXPECT_FALSE(fileExists(dir.file("c")));
  EXPECT_EQ(readFile(other), "A");
  EXPECT_EQ(VFile::lastWriteTime(W(other)).toUnixTime(), 1204288496);
  testing_support::removeTree(tmpl);
}

TEST(VFile, RemoveAndTemporaryFiles) {
  TempDir dir;
  Failure f = failureOf<VFileNotFoundException>([&] { VFile::remove(W(dir.file("none"))); });
  EXPECT_EQ(f.message, L"No such file or directory (Error code 2) at DeleteFile '" + W(dir.file("none")) + L"'");

  std::wstring a = VFile::createTemporary(W(dir.path()), L"tmp");
  std::wstring b = VFile::createTemporary(W(dir.path()), L"tmp");
  EXPECT_NE(a, b);
  EXPECT_EQ(VFileName::directory(a), W(dir.path()));
  EXPECT_EQ(VFileName::fileName(a).rfind(L"tmp", 0), 0u);
  EXPECT_EQ(VFileName::extension(a), L".tmp");
  EXPECT_EQ(modeOf(text::toUtf8(a)), 0600u);
  VFile::remove(a);
  EXPECT_FALSE(VFile::exists(a));
  EXPECT_EQ(failureOf<VPathNotFoundException>([&] { VFile::createTemporary(W(dir.file("none")), L"tmp"); }).code,
            3u);
}

TEST(RemoveFile, MissingFilesCountAsRemovedAndDirectoriesAreRefused) {
  TempDir dir;
  EXPECT_NO_THROW(removeFile(W(dir.file("missing.log")), false));
  EXPECT_NO_THROW(removeFile(W(dir.file("missing-dir/missing.log")), true));
  writeFile(dir.file("sub/a.log"), "x");
  Failure f = failureOf<VAccessDeniedException>([&] { removeFile(W(dir.file("sub")), true); });
  EXPECT_EQ(f.message, L"Permission denied (Error code 5) at DeleteFile '" + W(dir.file("sub")) + L"'");
  EXPECT_EQ(f.operation, "removeFile");
  EXPECT_TRUE(fileExists(dir.file("sub/a.log")));
}

TEST(RemoveFile, ForceRemovesALinkWithoutTouchingItsTarget) {
  TempDir dir;
  writeFile(dir.file("target"), "keep");
  ::chmod(dir.file("target").c_str(), 0444);
  ASSERT_EQ(::symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
  removeFile(W(dir.file("link")), true);
  EXPECT_FALSE(fileExists(dir.file("link")));
  EXPECT_EQ(modeOf(dir.file("target")), 0444u);
}

// A read-only file in a read-only directory. Root is not bound by permission bits, so the
// deletions run in a child that has become an ordinary account.
TEST(RemoveFile, ReadOnlyFileInReadOnlyDirectoryNeedsForce) {
  TempDir dir;
  const Account account = nobody();
  const bool root = ::geteuid() == 0;
  const std::string logs = dir.file("logs");
  const std::string file = logs + "/old.log";
  writeFile(file, "old");
  if (root) {
    ASSERT_EQ(::chmod(dir.path().c_str(), 0711), 0);
    ASSERT_EQ(::chown(logs.c_str(), account.uid, account.gid), 0);
    ASSERT_EQ(::chown(file.c_str(), account.uid, account.gid), 0);
  }
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(logs.c_str(), 0555), 0);

  const std::string result =
      runUnprivileged(account, [&] {
        std::string plain = tryRemove(file, false);
        return plain + "|" + tryRemove(file, true);
      });
  EXPECT_EQ(result, "denied:5:Permission denied (Error code 5) at DeleteFile '" + file + "':removeFile|removed");
  EXPECT_FALSE(fileExists(file));
  EXPECT_EQ(modeOf(logs) & 0700, 0700u);
}

TEST(RemoveFile, ForceStillFailsWhereRightsCannotBeTaken) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a directory owned by another account, which only root can make";
  TempDir dir;
  const std::string file = dir.file("root-owned/keep.log");
  writeFile(file, "x");
  ASSERT_EQ(::chmod(dir.path().c_str(), 0711), 0);
  ASSERT_EQ(::chmod(dir.file("root-owned").c_str(), 0755), 0);
  const std::string result = runUnprivileged(nobody(), [&] { return tryRemove(file, true); });
  EXPECT_EQ(result, "denied:5:Permission denied (Error code 5) at DeleteFile '" + file + "':removeFile");
  EXPECT_TRUE(fileExists(file));
  EXPECT_EQ(modeOf(dir.file("root-owned")), 0755u);
}
