// Per-domain registry keys at scale: creates N keys under Statistics\DomainIds (each by the
// first write of its lock state, as a run does), enumerates them as the registry clean-up
// does, deletes the tree, and prints the three times. Then measures single writes with
// flushing on, which is what one write costs on this disk.
//
// bench_registry_domains [COUNT] (default 100000). The store lives in a temporary system
// root; the bulk phases run with CADRO_REGISTRY_SYNC=0 unless --sync is given.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry/registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void die(const char* what, uint32_t code) {
  std::fprintf(stderr, "%s failed with code %u\n", what, code);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  size_t count = 100000;
  bool sync = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sync") == 0)
      sync = true;
    else
      count = std::strtoul(argv[i], nullptr, 10);
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/cadro-bench-XXXXXX";
  if (!mkdtemp(root.data())) die("mkdtemp", 0);
  setenv("CADRO_SYSTEM_ROOT", root.c_str(), 1);
  setenv("CADRO_REGISTRY_SYNC", sync ? "1" : "0", 1);

  const HKEY hklm = HKEY_LOCAL_MACHINE;
  { registry::key state(hklm, registry::kDomainStateKey, KEY_ENUMERATE_SUB_KEYS, false); }

  Clock::time_point start = Clock::now();
  for (size_t i = 1; i <= count; ++i)
    if (uint32_t code = registry::write(hklm, registry::domainKey(std::to_wstring(i)), L"OfflineLockStatus", 0u))
      die("write", code);
  double created = secondsSince(start);

  start = Clock::now();
  std::vector<std::wstring> ids;
  {
    registry::key state(hklm, registry::kDomainStateKey, KEY_ENUMERATE_SUB_KEYS, true);
    if (uint32_t code = registry::enumSubKeys(state, ids)) die("enumSubKeys", code);
  }
  double enumerated = secondsSince(start);
  if (ids.size() != count) die("enumeration count", static_cast<uint32_t>(ids.size()));

  start = Clock::now();
  if (uint32_t code = registry::deleteTree(hklm, registry::kDomainStateKey)) die("deleteTree", code);
  double deleted = secondsSince(start);

  std::printf("registry store, %zu per-domain keys (%s)\n", count, sync ? "flushed" : "CADRO_REGISTRY_SYNC=0");
  std::printf("  create (first write of each key): %8.2f s  %7.1f us per key\n", created, created * 1e6 / count);
  std::printf("  enumerate (enumSubKeys):          %8.2f s  %7.1f us per key\n", enumerated, enumerated * 1e6 / count);
  std::printf("  delete (deleteTree):              %8.2f s  %7.1f us per key\n", deleted, deleted * 1e6 / count);

  // What flushing costs: one value written again and again with fsync on.
  setenv("CADRO_REGISTRY_SYNC", "1", 1);
  const int samples = 200;
  start = Clock::now();
  for (int i = 0; i < samples; ++i)
    if (uint32_t code = registry::write(hklm, registry::domainKey(L"1"), L"OfflineLockStatus", static_cast<uint32_t>(i)))
      die("flushed write", code);
  double flushed = secondsSince(start);
  std::printf("  flushed write of one value:       %8.2f ms per write (%d writes)\n", flushed * 1e3 / samples,
              samples);

  registry::deleteTree(hklm, L"SOFTWARE");
  std::string cleanup = "rm -rf '" + root + "'";
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
