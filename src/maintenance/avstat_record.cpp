#include "maintenance/avstat_record.h"

#include <algorithm>
#include <stdexcept>

#include "platform/dates/vdatetime.h"
#include "platform/report/vexception.h"

namespace {

// Both patterns are process-wide and built when the program starts.
const boost::wregex kRecordPattern(
    L"(\\d\\d\\d\\d)/(\\d\\d)/(\\d\\d) (\\d\\d):(\\d\\d):(\\d\\d):(\\d\\d\\d) (\\d+) (\\d+) (.*?)\\x0d\\x0a");
const boost::wregex kMessagePattern(L"(\\w+)\\t(.*)\\t(.*)\\t(.*)");

// The decimal value of a group of the record pattern; -1 unless every character is an ASCII
// digit (the pattern's \d may accept other digits in some locales).
int groupNumber(const boost::sub_match<const wchar_t*>& group) {
  int value = 0;
  for (const wchar_t* p = group.first; p != group.second; ++p) {
    if (*p < L'0' || *p > L'9') return -1;
    value = value * 10 + (*p - L'0');
  }
  return value;
}

void writeDigits(wchar_t* out, int value, int digits) {
  for (int i = digits - 1; i >= 0; --i, value /= 10) out[i] = static_cast<wchar_t>(L'0' + value % 10);
}

std::wstring_view view(const boost::sub_match<const wchar_t*>& group) {
  return std::wstring_view(group.first, static_cast<size_t>(group.second - group.first));
}

}  // namespace

bool AvLogLineMatcher::match(std::wstring_view piece, AvLogRecord& record) {
  const wchar_t* first = piece.data();
  const wchar_t* last = first + piece.size();
  try {
    if (!boost::regex_match(first, last, line_, kRecordPattern)) return false;
  } catch (const std::runtime_error&) {
    return false;  // the engine gave up: too complex to be a record
  }

  int fields[6];
  for (int i = 0; i < 6; ++i)
    if ((fields[i] = groupNumber(line_[i + 1])) < 0) return false;
  if (groupNumber(line_[7]) < 0) return false;
  const VDateTime local(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
  if (!local.isValid()) return false;
  VDateTime utc;
  try {
    utc = local.toUtc();
  } catch (const vexception&) {
    return false;  // no UTC moment within the calendar's range
  }
  if (utc.year > 9999) return false;
  writeDigits(record.dayText, utc.year, 4);
  record.dayText[4] = L'-';
  writeDigits(record.dayText + 5, utc.month, 2);
  record.dayText[7] = L'-';
  writeDigits(record.dayText + 8, utc.day, 2);

  record.hasMessage = matchMessage(line_[10].first, line_[10].second, record);
  return true;
}

bool AvLogLineMatcher::matchMessage(const wchar_t* first, const wchar_t* last, AvLogRecord& record) {
  record.status = record.recipients = record.virus = {};
  // Without three TAB characters the message cannot match, and the pattern's backtracking
  // over a long message would cost time quadratic in its length.
  if (std::count(first, last, L'\t') < 3) return false;
  try {
    if (!boost::regex_match(first, last, message_, kMessagePattern)) return false;
  } catch (const std::runtime_error&) {
    return false;
  }
  record.status = view(message_[1]);
  record.recipients = view(message_[3]);
  record.virus = view(message_[4]);
  return true;
}
