#pragma once
// One record of an antivirus or spam statistics log, and the matcher that recognises it.
//
// A record line is the filter's local date and time with milliseconds, two numbers and a
// message, ending in CR LF:
//
//   2024/03/05 00:30:12:345 1234 5 infected<TAB>x<TAB>"Doe, J" <j@example.com><TAB>EICAR
//
// The message is a status word, a field the statistics do not use, the recipients list and
// the virus name, separated by TAB characters. Both patterns are compiled once, when the
// program starts, and shared by every matcher.

#include <boost/regex.hpp>
#include <string>
#include <string_view>

struct AvLogRecord {
  // The record's day in UTC, "YYYY-MM-DD" (the local time converted, milliseconds dropped).
  std::wstring_view day() const { return std::wstring_view(dayText, 10); }
  // Whether the message has the four fields; a record without them is not counted.
  bool hasMessage = false;
  std::wstring_view status;
  std::wstring_view recipients;
  std::wstring_view virus;
  wchar_t dayText[10] = {};
};

// Recognises record lines. The views of the record point into the piece matched and stay
// valid while it does. Matching allocates nothing once the matcher has seen a few lines.
class AvLogLineMatcher {
 public:
  // True when `piece` is, as a whole, a record line (its CR LF included) whose date and
  // time exist. Lines that are not records, including those the pattern engine gives up
  // on, are false.
  bool match(std::wstring_view piece, AvLogRecord& record);

 private:
  bool matchMessage(const wchar_t* first, const wchar_t* last, AvLogRecord& record);

  boost::match_results<const wchar_t*> line_;
  boost::match_results<const wchar_t*> message_;
};
