#pragma once
// The event log on disk: eventlog/<log name>.log under the system root, one record per line,
// fields separated by one TAB: UTC time "YYYY-MM-DDTHH:MM:SSZ", event type (INFORMATION,
// WARNING, SUCCESS, ERROR), source name, event identifier, category, then the record's
// strings. Inside a field backslash is written "\\", TAB "\t", line feed "\n" and carriage
// return "\r". A record is one write() on a file opened with O_APPEND, so appends from
// several processes never interleave. When the file passes the log's maximum size it is
// renamed to <log name>.log.1 (replacing an older one) and a new file begins.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

enum class EventType { Information, Warning, Success, Error };

// Event type of a report level: 0 information, 1 warning, 2 success, 3 and above error.
EventType eventTypeOfLevel(int level);
const char* eventTypeName(EventType type);

class EventLogFile {
 public:
  // `logName` is the event log ("Cadro"); `maxSize` 0 means no size limit.
  EventLogFile(std::string logName, uint64_t maxSize);

  const std::string& path() const { return path_; }

  // Appends one record; false when the file cannot be written.
  bool append(EventType type, std::wstring_view source, uint32_t eventId, uint16_t category,
              const std::vector<std::wstring>& strings) const;

  // The escaped form of one field (UTF-8).
  static void appendEscaped(std::wstring_view field, std::string& out);
  static std::string formatUtcTime(std::time_t t);

 private:
  std::string logName_;
  std::string path_;
  uint64_t maxSize_;
};
