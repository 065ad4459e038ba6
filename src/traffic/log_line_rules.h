#pragma once
// The rules log collection and traffic storage apply to each log line before it is
// counted: its moment, its date check, the site-preview filter, the FTP method rule, and
// where an HTTP line's host name comes from. Pure functions over views of the line's
// fields; none allocates.

#include <string_view>

#include "platform/dates/vdatetime.h"

// The line's moment from its "date" (letters "YMD"; two-digit years below 50 are 2000 +
// year, below 100 1900 + year) and "time" (letters "hms") fields, as written: W3C logs
// record UTC. A missing field leaves its part zero.
VDateTime w3cLineTime(std::wstring_view date, std::wstring_view time);

// A moment in the shape IIS writes nearly every line in: "YYYY-MM-DD" and "hh:mm:ss", with
// values in range, of a year from 1970 to 9998.
struct IisMoment {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// Read `date` or `time` of that shape into their part of `out`; false for any other text
// (which w3cLineTime reads with the general parser).
bool readIisDate(std::wstring_view date, IisMoment& out);
bool readIisClock(std::wstring_view time, IisMoment& out);

// Whether the date is a calendar date: month 1..12 and day 1..the month's length
// (Gregorian leap years). Reports "Invalid datetime %04d/%02d/%02d skipped" at level 1
// when it is not.
bool checkLineDate(const VDateTime& t);

// Whether "cs-uri-stem" holds "/sitepreview/sitepreview.dll" (without regard to case) at
// position 0 or 1: the control panel's own site preview, which is no visitor traffic.
// Reports "Domain sitepreview skipped" at level 0 when it does.
bool isSitePreview(std::wstring_view uriStem);

// The FTP method rule of "cs-method": the text after the last "]" (the IIS FTP service
// writes a bracketed connection number in front), compared without regard to case; "sent"
// passes as a download, "created" as an upload, anything else fails. Reports "FTP
// csMethod='%s'", "truncate FTP csMethod='%s'" and "csMethod != 'sent' and csMethod !=
// 'created' - skip" at level 0.
struct FtpMethod {
  bool passes = false;
  bool download = false;
};
FtpMethod ftpMethodRule(std::wstring_view method);

// The text an HTTP line names its host by: "cs-host" unless it is empty, "-" or looks like
// an IP address; else "cs(Referer)" unless it is empty or "-"; else "cs-uri-query".
std::wstring_view httpHostText(std::wstring_view csHost, std::wstring_view referer, std::wstring_view uriQuery);

// Whether a host text names no host, so that the line goes to its log directory's site:
// empty, "-" or an IP address.
bool namesNoHost(std::wstring_view hostText);

// The host name in a host text: without a leading "http://" or "https://"; a text then
// beginning with "/" names no host (empty result) when `directoryHasDomain`, else loses
// that "/"; the name ends at the first "\" or "/", and its port (from the first ":") is
// cut. The view points into `hostText`.
std::wstring_view hostNameOf(std::wstring_view hostText, bool directoryHasDomain);

// `host` without a leading "www." (compared without regard to case).
std::wstring_view withoutWww(std::wstring_view host);
