#pragma once
// One line of a Serv-U FTP server log, with the state of its FTP session, and the same line
// seen as a W3C extended log record: the field names the web log readers use ("date",
// "s-ip", "cs-method", "sc-bytes", ...), so that traffic storage and the analysers handle
// Serv-U and IIS FTP lines alike.
//
// Records are values that own their text. The reader refills one record per line, reusing
// its storage, so reading allocates only when a line is longer than any before it.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/dates/vdatetime.h"
#include "traffic/w3c_field_names.h"
#include "traffic/w3c_record.h"

// What the reader knows of one FTP session: its id (lower-cased), the login (lower-cased),
// the server's own address and the client's address, each empty until a line gave it.
struct ServUSession {
  std::wstring id;
  std::wstring login;
  std::wstring localAddress;   // the server's address the client connected to
  std::wstring remoteAddress;  // the client's address
};

class ServURecord {
 public:
  // What the line says about its session. The numbers are those of the server's log kinds.
  enum class Kind { none = -1, login = 0, download = 1, upload = 2, closed = 3 };

  ServURecord() = default;

  // Replaces the content: the session's strings as they stand after the line, the line's
  // date and time words, its kind, and for a download or upload the byte count and file.
  // `line` is the whole line as read.
  void assign(const ServUSession& session, std::wstring_view dateWord, std::wstring_view timeWord, Kind kind,
              uint64_t byteCount, std::wstring_view file, std::wstring_view line);

  const std::wstring& sessionId() const { return session_.id; }
  const std::wstring& login() const { return session_.login; }
  const std::wstring& localAddress() const { return session_.localAddress; }
  const std::wstring& remoteAddress() const { return session_.remoteAddress; }
  const std::wstring& dateWord() const { return dateWord_; }
  const std::wstring& timeWord() const { return timeWord_; }
  Kind kind() const { return kind_; }
  // Bytes moved by a download or an upload (64-bit: single files pass 4 GB); 0 otherwise.
  uint64_t byteCount() const { return byteCount_; }
  const std::wstring& file() const { return file_; }
  std::wstring_view line() const { return line_; }

  // The value of a W3C field, the name compared without regard to case:
  //   "date"        "20YY-MM-DD" from a date word like "13Nov06"; "-" for another shape
  //   "time"        the time word
  //   "s-ip"        the server's own address; "c-ip" the client's address
  //   "cs-username" the login
  //   "sc-bytes"    the byte count of a download, else "0"; "cs-bytes" the same for an upload
  //   "cs-version"  "ftp"
  //   "cs-method"   "[" + session id without leading zeros + "]" + "user", "sent", "created"
  //                 or "closed" by kind; "-" without kind
  //   "cs-uri-stem" the login of a login line, the file of a transfer, else "-"
  //   anything else "-"
  // The view is valid until the record changes.
  std::wstring_view get(std::wstring_view fieldName) const;

  // The names of the W3C record that a Serv-U line becomes, in the order log collection
  // hands them on: "date", "time", "s-sitename", ..., "time-taken".
  static const std::shared_ptr<const W3CFieldNames>& w3cFieldNames();
  // Fills `out` with every name of w3cFieldNames() and its value from get(), the line as
  // its raw line. Reuses the storage of `out`.
  void toW3C(W3CRecord& out) const;

  // The moment of the line in UTC: "date" read with the letters "YMD" and "time" with
  // "hms", as local time of the process time zone (the server writes its clock), converted
  // to UTC. A value that is no valid calendar time (a "-" date, month 13) is returned as
  // read, unconverted, for the caller's date check to reject.
  VDateTime utcTime() const;

 private:
  enum class Field : int;  // the names get() knows, defined with their table
  static Field fieldNamed(std::wstring_view name);
  std::wstring_view value(Field field) const;
  void formatDate();
  void formatMethod();

  ServUSession session_;
  std::wstring dateWord_;
  std::wstring timeWord_;
  Kind kind_ = Kind::none;
  uint64_t byteCount_ = 0;
  std::wstring file_;
  std::wstring line_;
  // Derived once per line, so that get() only picks.
  std::wstring dateText_ = L"-";
  std::wstring methodText_ = L"-";
  std::wstring byteText_ = L"0";
};
