#include "mail_log_files.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <stdexcept>
#include <string_view>

#include "mail_log_line.h"
#include "mail_log_traffic.h"
#include "provider_text.h"

namespace postfix {

namespace {

constexpr size_t kBufferSize = 1 << 20;  // also the longest line read; longer ones are skipped

std::string systemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Sets rotated and rotation from the name; false for a compressed form zlib cannot read.
bool classify(MailLogFile& file) {
  std::string_view name = file.path;
  name = name.substr(name.rfind('/') + 1);
  for (std::string_view other : {".xz", ".bz2", ".zst", ".lz4", ".lzma", ".zip", ".Z"})
    if (name.ends_with(other)) return false;
  if (name.ends_with(".gz")) {
    file.rotated = true;
    name.remove_suffix(3);
  }
  const size_t mark = name.find_last_of(".-");
  if (mark != std::string_view::npos && allDigits(name.substr(mark + 1)) && name.size() - mark <= 10) {
    file.rotated = true;
    file.rotation = std::stoull(std::string(name.substr(mark + 1)));
  }
  return true;
}

// Local civil times of the log's zone to UTC.
struct Zone {
  bool local = true;
  int32_t offset = 0;
  int64_t cachedHour = INT64_MIN;
  int64_t cachedOffset = 0;

  static int64_t toUtc(void* context, int32_t year, int32_t month, int32_t day, int32_t secondsOfDay) {
    Zone& zone = *static_cast<Zone*>(context);
    const int64_t days = daysFromCivil(year, month, day);
    const int64_t civil = days * 86400 + secondsOfDay;
    if (!zone.local) return civil - zone.offset;
    // The zone's offset changes at most once an hour: asked once per hour of the log.
    const int64_t hour = days * 24 + secondsOfDay / 3600;
    if (hour != zone.cachedHour) {
      struct tm t{};
      t.tm_year = year - 1900;
      t.tm_mon = month - 1;
      t.tm_mday = day;
      t.tm_hour = secondsOfDay / 3600;
      t.tm_isdst = -1;
      const time_t utc = mktime(&t);
      zone.cachedOffset = hour * 3600 - static_cast<int64_t>(utc);
      zone.cachedHour = hour;
    }
    return civil - zone.cachedOffset;
  }

  // The civil day of the zone at the UTC moment `utc`.
  void dayAt(int64_t utc, int32_t& year, int32_t& month, int32_t& day) const {
    if (local) {
      const time_t moment = static_cast<time_t>(utc);
      struct tm t{};
      localtime_r(&moment, &t);
      year = t.tm_year + 1900;
      month = t.tm_mon + 1;
      day = t.tm_mday;
      return;
    }
    int64_t days = (utc + offset) / 86400;
    if ((utc + offset) % 86400 < 0) --days;
    civilFromDays(days, year, month, day);
  }
};

struct GzCloser {
  void operator()(gzFile f) const { gzclose(f); }
};

struct FileOutcome {
  bool complete = false;  // read to its end without damage
  bool anyLine = false;
  int64_t latest = INT64_MIN;
};

// Feeds every line of the open file to `traffic`. No allocation: one buffer for all files.
FileOutcome readFile(gzFile in, LineClock& clock, MailLogTraffic& traffic, char* buffer) {
  FileOutcome outcome;
  size_t held = 0;
  bool skipping = false;  // inside a line longer than the buffer
  auto lineAt = [&](const char* begin, const char* end) {
    if (end > begin && end[-1] == '\r') --end;
    const MailLogLine line = parseMailLogLine(std::string_view(begin, static_cast<size_t>(end - begin)), clock);
    if (line.kind != LineKind::kOther || line.utcSeconds != 0) {
      outcome.anyLine = true;
      outcome.latest = std::max(outcome.latest, line.utcSeconds);
    }
    traffic.add(line);
  };
  for (;;) {
    const int got = gzread(in, buffer + held, static_cast<unsigned>(kBufferSize - held));
    if (got < 0) return outcome;  // damaged: not complete
    if (got == 0) {
      if (held > 0 && !skipping) lineAt(buffer, buffer + held);
      int error = Z_OK;
      gzerror(in, &error);
      outcome.complete = error == Z_OK;  // a gzip file cut short ends with an error
      return outcome;
    }
    const char* begin = buffer;
    const char* end = buffer + held + static_cast<size_t>(got);
    for (;;) {
      const char* newline = static_cast<const char*>(std::memchr(begin, '\n', static_cast<size_t>(end - begin)));
      if (!newline) break;
      if (!skipping) lineAt(begin, newline);
      skipping = false;
      begin = newline + 1;
    }
    held = static_cast<size_t>(end - begin);
    if (held == kBufferSize) {
      skipping = true;  // an oversized line: the rest of it up to its end is dropped
      held = 0;
    } else if (held > 0 && begin != buffer) {
      std::memmove(buffer, begin, held);
    }
  }
}

}  // namespace

std::vector<MailLogFile> listMailLogs(const std::vector<std::string>& patterns) {
  std::vector<MailLogFile> files;
  std::set<std::string> seen;
  for (const std::string& pattern : patterns) {
    glob_t matches{};
    const int result = glob(pattern.c_str(), GLOB_NOSORT, nullptr, &matches);
    if (result == 0) {
      for (size_t i = 0; i < matches.gl_pathc; ++i) {
        MailLogFile file;
        file.path = matches.gl_pathv[i];
        struct stat st{};
        if (!seen.insert(file.path).second || lstat(file.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            !classify(file))
          continue;
        file.modified = st.st_mtime;
        files.push_back(std::move(file));
      }
    }
    globfree(&matches);
  }
  std::sort(files.begin(), files.end(), [](const MailLogFile& a, const MailLogFile& b) {
    if (a.modified != b.modified) return a.modified < b.modified;
    if (a.rotation != b.rotation) return a.rotation > b.rotation;
    return a.path < b.path;
  });
  return files;
}

void collectMailTraffic(const ProviderSettings& settings, const mailmng::Moment& start, const mailmng::Moment& end,
                        mailmng::MailDomainMap& domains, mailmng::FileList& finishedFiles,
                        mailmng::SentMessagesMap& sentMessages) {
  const std::vector<MailLogFile> files = listMailLogs(settings.logFiles);
  MailLogTraffic traffic(start, end, domains, sentMessages);
  Zone zone;
  zone.local = settings.localZone;
  zone.offset = settings.zoneOffsetSeconds;
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  std::vector<FileOutcome> outcomes;
  for (size_t i = 0; i < files.size(); ++i) {
    const int fd = open(files[i].path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(systemError("Cannot open the mail log", files[i].path));
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      throw std::runtime_error("The mail log " + files[i].path + " is no regular file");
    }
    std::unique_ptr<gzFile_s, GzCloser> in(gzdopen(fd, "rb"));
    if (!in) {
      close(fd);
      throw std::runtime_error(systemError("Cannot read the mail log", files[i].path));
    }
    gzbuffer(in.get(), 128 * 1024);
    LineClock clock;
    clock.fixedYear = settings.fixedYear;
    zone.dayAt(st.st_mtime, clock.referenceYear, clock.referenceMonth, clock.referenceDay);
    clock.localToUtc = &Zone::toUtc;
    clock.context = &zone;
    traffic.beginFile(static_cast<int32_t>(i));
    errno = 0;
    FileOutcome outcome = readFile(in.get(), clock, traffic, buffer.get());
    if (!outcome.complete && !files[i].path.ends_with(".gz"))
      throw std::runtime_error(systemError("Cannot read the mail log", files[i].path));
    outcomes.push_back(outcome);
  }
  for (size_t i = 0; i < files.size(); ++i) {
    const FileOutcome& o = outcomes[i];
    if (files[i].rotated && o.complete && (!o.anyLine || traffic.beforeEnd(o.latest)) &&
        !traffic.openMessagesFrom(static_cast<int32_t>(i)))
      finishedFiles.push_back(fromFileName(files[i].path));
  }
}

}  // namespace postfix
