// The mail traffic of the Postfix and Dovecot provider (the built plug-in, loaded with
// dlopen) over a generated mail log of 100 hosted domains, timed against an awk script that
// sums the "size=" of the same lines by recipient domain, in the same run:
//
//   bench_mail_log [lines...]      (default 1000000 2000000)
//
// The log: Postfix messages from other servers to the domains' mailboxes (virtual and lmtp),
// from the domains' senders to other servers (smtp), some to two recipients, each with its
// queue manager's from= and removed lines; Dovecot IMAP and POP3 logouts; smtpd and other
// daemons' lines in between; ten days of traditional time stamps. Each measurement runs
// as a process of its own, so that its peak resident memory is its own. Prints the seconds,
// lines per second, the ratio to awk, the peak memory and the heap allocations of the whole
// traffic call (the same for every line count when no line allocates); exits with 2 when
// the provider's bytes received differ from awk's sums for the hosted domains.
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../deterministic_random.h"
#include "../timed_process.h"
#include "../malloc_counter.h"
#include "cadro/mail_provider.h"

namespace {

constexpr int kDomains = 100;

std::string domainName(unsigned id) { return "domain" + std::to_string(id) + ".example"; }

// Writes about `lines` lines; returns the number written.
size_t writeLog(const std::string& path, size_t lines) {
  static const char* const kMonthDays[] = {"Dec  1", "Dec  2", "Dec  3", "Dec  4", "Dec  5",
                                           "Dec  6", "Dec  7", "Dec  8", "Dec  9", "Dec 10"};
  static const char* const kUsers[] = {"john", "mary", "info", "sales", "admin"};
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) std::exit(1);
  Random rnd;
  size_t written = 0;
  unsigned long long queue = 0x10000000ull;
  char line[512];
  auto emit = [&](size_t at, const char* format, auto... args) {
    const unsigned secs = static_cast<unsigned>(at * 864000ull / lines);
    int n = std::snprintf(line, sizeof line, "%s %02u:%02u:%02u mx ", kMonthDays[secs / 86400], secs / 3600 % 24,
                          secs / 60 % 60, secs % 60);
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), format, args...);
    line[n++] = '\n';
    std::fwrite(line, 1, static_cast<size_t>(n), out);
    ++written;
  };
  while (written < lines) {
    const size_t at = written;
    const unsigned kind = rnd.next(10);
    const std::string domain = domainName(1 + rnd.next(kDomains));
    const char* user = kUsers[rnd.next(5)];
    if (kind < 3) {  // mailbox access
      emit(at, rnd.next(2) ? "dovecot: imap(%s@%s)<%u><%08x>: Logged out in=%u out=%u deleted=0 expunged=0"
                           : "dovecot: pop3(%s@%s)<%u><%08x>: Disconnected: Logged out top=0/0, retr=1/20, del=0/1, "
                             "size=20 in=%u out=%u",
           user, domain.c_str(), rnd.next(60000), rnd.next(1u << 30), 50 + rnd.next(2000), 100 + rnd.next(200000));
      continue;
    }
    if (kind == 3) {
      emit(at, "postfix/smtpd[%u]: connect from unknown[198.51.100.%u]", rnd.next(60000), rnd.next(256));
      continue;
    }
    const unsigned long long id = queue++;
    const unsigned size = 500 + rnd.next(200000);
    const bool outgoing = kind >= 8;
    const unsigned recipients = 1 + (rnd.next(5) == 0);
    emit(at, "postfix/qmgr[812]: %llX: from=<%s@%s>, size=%u, nrcpt=%u (queue active)", id, user,
         outgoing ? domain.c_str() : "sender.remote.example", size, recipients);
    for (unsigned r = 0; r < recipients; ++r) {
      if (outgoing)
        emit(at, "postfix/smtp[%u]: %llX: to=<user%u@remote%u.example>, relay=mx.remote.example[203.0.113.5]:25, "
                 "delay=0.61, delays=0.05/0/0.3/0.26, dsn=2.0.0, status=sent (250 2.0.0 Ok: queued as 4XyZ)",
             rnd.next(60000), id, rnd.next(1000), rnd.next(50));
      else
        emit(at, "postfix/%s[%u]: %llX: to=<%s@%s>, relay=%s, delay=0.1, delays=0/0/0/0.1, dsn=2.0.0, status=sent "
                 "(delivered to maildir)",
             r ? "lmtp" : "virtual", rnd.next(60000), id, kUsers[rnd.next(5)],
             domainName(1 + rnd.next(kDomains)).c_str(), r ? "mx[private/dovecot-lmtp]" : "virtual");
    }
    emit(at, "postfix/qmgr[812]: %llX: removed", id);
  }
  std::fclose(out);
  return written;
}

// The awk script: the size of each queue id, summed by the domain of each delivery's
// recipient.
const char* kAwk =
    "/postfix\\/qmgr/ && / size=/ { q = $6; s = $0; sub(/.* size=/, \"\", s); sub(/,.*/, \"\", s); size[q] = s; next }\n"
    "/ to=</ && /status=sent/ { q = $6; d = $0; sub(/.* to=<[^@]*@/, \"\", d); sub(/>.*/, \"\", d); b[d] += size[q]; "
    "next }\n"
    "/: removed$/ { delete size[$6] }\n"
    "END { for (d in b) print d, b[d] }\n";

// Runs `argv` with its standard output into `output`.
Timed timed(const std::vector<std::string>& argv, const std::string& output) {
  return timedProcess(argv, output, false);
}

// The measured process: the provider's traffic of the log named by the settings; prints the
// bytes received per domain and the allocations of the call.
int runProvider() {
  void* library = dlopen(CADRO_POSTFIX_PROVIDER, RTLD_NOW);
  if (!library) return 3;
  auto create = reinterpret_cast<mailmng::GetMailMngProviderInstanceFunction>(
      dlsym(library, mailmng::kGetMailMngProviderInstanceExport));
  mailmng::imailmngprovider* provider = create ? create() : nullptr;
  if (!provider) return 3;
  mailmng::MailDomainMap domains;
  for (unsigned id = 1; id <= kDomains; ++id) {
    const std::string name = domainName(id);
    domains[std::wstring(name.begin(), name.end())];
  }
  mailmng::FileList finished;
  mailmng::SentMessagesMap sent;
  const unsigned long before = g_allocations;
  try {
    provider->getMailTraffic({}, {2027, 1, 1, 0, 0, 0}, domains, finished, sent);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 4;
  }
  const unsigned long allocations = g_allocations - before;
  provider->release();
  for (const auto& [name, days] : domains) {
    long long sum = 0;
    for (const auto& [day, t] : days) sum += t.smtpInReceived;
    std::printf("%s %lld\n", std::string(name.begin(), name.end()).c_str(), sum);
  }
  std::printf("allocations %lu\n", allocations);
  return 0;
}

std::map<std::string, long long> readSums(const std::string& path, unsigned long* allocations) {
  std::map<std::string, long long> sums;
  std::ifstream in(path);
  std::string name;
  long long value = 0;
  while (in >> name >> value) {
    if (name == "allocations" && allocations) *allocations = static_cast<unsigned long>(value);
    if (name.starts_with("domain")) sums[name] = value;
  }
  return sums;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--provider") return runProvider();
  std::vector<size_t> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::strtoul(argv[i], nullptr, 10));
  if (counts.empty()) counts = {1000000, 2000000};

  char dirTemplate[] = "/tmp/bench-mail-log-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  const std::string log = dir + "/mail.log", settings = dir + "/provider.ini";
  std::ofstream(settings) << "log_files = " << log << "\nlog_time_zone = UTC\nlog_year = 2026\n";
  setenv("CADRO_MAILPROVIDER_CONF", settings.c_str(), 1);
  std::ofstream(dir + "/sums.awk") << kAwk;
  char self[4096];
  const ssize_t selfLength = readlink("/proc/self/exe", self, sizeof self - 1);
  if (selfLength <= 0) return 1;
  self[selfLength] = '\0';

  int status = 0;
  std::printf("%10s %9s %12s %8s %8s %9s %9s %12s\n", "lines", "seconds", "lines/s", "awk s", "ratio", "peak MB",
              "awk MB", "allocations");
  std::fflush(stdout);  // not again in the children
  for (size_t lines : counts) {
    const size_t written = writeLog(log, lines);
    timed({"/bin/sh", "-c", "cat '" + log + "' >/dev/null"}, "/dev/null");  // a warm page cache for both
    const Timed awk = timed({"/usr/bin/awk", "-f", dir + "/sums.awk", log}, dir + "/awk.out");
    const Timed run = timed({self, "--provider"}, dir + "/provider.out");
    unsigned long allocations = 0;
    const auto ours = readSums(dir + "/provider.out", &allocations);
    const auto theirs = readSums(dir + "/awk.out", nullptr);
    if (run.status != 0 || awk.status != 0 || ours != theirs) {
      std::fprintf(stderr, "%zu lines: provider status %d, awk status %d, %s sums\n", written, run.status, awk.status,
                   ours == theirs ? "equal" : "different");
      status = 2;
    }
    std::printf("%10zu %9.2f %12.0f %8.2f %8.2f %9.1f %9.1f %12lu\n", written, run.seconds, written / run.seconds,
                awk.seconds, run.seconds / awk.seconds, run.peakKb / 1024.0, awk.peakKb / 1024.0, allocations);
    std::fflush(stdout);
  }
  for (const char* name : {"/mail.log", "/provider.ini", "/sums.awk", "/awk.out", "/provider.out"})
    std::remove((dir + name).c_str());
  rmdir(dir.c_str());
  return status;
}
