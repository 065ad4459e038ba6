#include "platform/report/event_log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/system/fd_io.h"
#include "platform/system/system_root.h"
#include "platform/text/text_codec.h"

EventType eventTypeOfLevel(int level) {
  switch (level) {
    case 0: return EventType::Information;
    case 1: return EventType::Warning;
    case 2: return EventType::Success;
    default: return EventType::Error;
  }
}

const char* eventTypeName(EventType type) {
  switch (type) {
    case EventType::Information: return "INFORMATION";
    case EventType::Warning: return "WARNING";
    case EventType::Success: return "SUCCESS";
    case EventType::Error: return "ERROR";
  }
  return "ERROR";
}

EventLogFile::EventLogFile(std::string logName, uint64_t maxSize)
    : logName_(std::move(logName)), path_(sysroot::path("eventlog/" + logName_ + ".log")), maxSize_(maxSize) {}

void EventLogFile::appendEscaped(std::wstring_view field, std::string& out) {
  std::string utf8 = text::toUtf8(field);
  for (char c : utf8) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
}

std::string EventLogFile::formatUtcTime(std::time_t t) {
  struct tm tmv;
  gmtime_r(&t, &tmv);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tmv.tm_year + 1900, tmv.tm_mon + 1,
                tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
  return buf;
}

namespace {

int openLog(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

}  // namespace

bool EventLogFile::append(EventType type, std::wstring_view source, uint32_t eventId, uint16_t category,
                          const std::vector<std::wstring>& strings) const {
  std::string line = formatUtcTime(std::time(nullptr));
  line += '\t';
  line += eventTypeName(type);
  line += '\t';
  appendEscaped(source, line);
  line += '\t';
  line += std::to_string(eventId);
  line += '\t';
  line += std::to_string(category);
  for (const std::wstring& s : strings) {
    line += '\t';
    appendEscaped(s, line);
  }
  line += '\n';

  sysroot::ensureDirectory(sysroot::path("eventlog"));
  int fd = openLog(path_);
  if (fd < 0) return false;
  if (maxSize_ > 0) {
    // Rotation is decided under an exclusive lock of the current file, and only when the
    // path still names the file this process opened, so two writers never rotate twice.
    if (::flock(fd, LOCK_EX) == 0) {
      struct stat st, pathSt;
      if (::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > maxSize_ &&
          ::stat(path_.c_str(), &pathSt) == 0 && pathSt.st_ino == st.st_ino && pathSt.st_dev == st.st_dev) {
        std::string old = path_ + ".1";
        if (::rename(path_.c_str(), old.c_str()) == 0) {
          ::flock(fd, LOCK_UN);
          ::close(fd);
          fd = openLog(path_);
          if (fd < 0) return false;
        }
      }
      ::flock(fd, LOCK_UN);
    }
  }
  bool ok = fdio::writeAll(fd, line) == 0;
  ::close(fd);
  return ok;
}
