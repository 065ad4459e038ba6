// Takes a business lock in a process of its own, for the lock tests.
//   cadro-lock-probe try KEY VALUE START_FILE RELEASE_FILE
//     waits for START_FILE, locks, prints "won" or "lost: <message>"; a winner keeps the
//     lock until RELEASE_FILE exists, then exits and so releases it.
//   cadro-lock-probe hold KEY VALUE
//     locks, prints "locked" and waits to be killed.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/business_lock.h"
#include "platform/text/text_codec.h"

namespace {

bool exists(const char* path) { return ::access(path, F_OK) == 0; }

void waitFor(const char* path) {
  while (!exists(path)) ::usleep(200);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::string mode = argv[1];
  BusinessLock::RegistryOfflineLockStatus status(HKEY_LOCAL_MACHINE, text::fromUtf8(argv[2]), text::fromUtf8(argv[3]));
  BusinessLock::RegistryLock lock(status, BusinessLock::kBusinessLockMutex);
  if (mode == "try" && argc == 6) {
    waitFor(argv[4]);
    try {
      lock.lock();
    } catch (const vexception& e) {
      std::printf("lost: %s\n", text::toUtf8(e.message()).c_str());
      return 0;
    }
    std::printf("won\n");
    std::fflush(stdout);
    waitFor(argv[5]);
    return 0;
  }
  if (mode == "hold") {
    lock.lock();
    std::printf("locked\n");
    std::fflush(stdout);
    for (;;) ::pause();
  }
  return 2;
}
