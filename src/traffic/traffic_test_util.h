#pragma once
// Test helpers for traffic storage: a database that refuses one domain's traffic, and the
// DomainsTraffic rows as text that assertions compare.

#include <string>

#include "db/database_provider.h"
#include "platform/text/text_codec.h"

namespace traffic_test {

// A trigger that makes every new DomainsTraffic row of the domain `domainId` fail, as a
// full disk or a revoked privilege would fail that domain's store alone.
inline void refuseTrafficOf(IDatabaseProvider& db, int domainId) {
  const std::wstring id = std::to_wstring(domainId);
  if (db.providerName() == L"MySQL")
    db.execute(L"CREATE TRIGGER refuse_traffic BEFORE INSERT ON DomainsTraffic FOR EACH ROW BEGIN IF NEW.dom_id = " +
               id + L" THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF; END");
  else
    db.execute(L"CREATE TRIGGER refuse_traffic BEFORE INSERT ON DomainsTraffic WHEN NEW.dom_id = " + id +
               L" BEGIN SELECT RAISE(ABORT, 'refused'); END");
}

inline void allowTraffic(IDatabaseProvider& db) { db.execute(L"DROP TRIGGER refuse_traffic"); }

// "id date http_in http_out ftp_in ftp_out smtp_in smtp_out pop_in pop_out" per row, rows
// separated by "; ", ordered by domain and day; the date as "YYYY-MM-DD" whatever the
// engine's date form.
inline std::string trafficRows(IDatabaseProvider& db, const std::wstring& where = L"") {
  VRecordSet rows = db.query(
      L"SELECT dom_id, `date`, http_in, http_out, ftp_in, ftp_out, smtp_in, smtp_out, pop3_imap_in, pop3_imap_out "
      L"FROM DomainsTraffic " +
      where + L" ORDER BY dom_id, `date`");
  std::string out;
  while (rows.next()) {
    if (!out.empty()) out += "; ";
    for (int i = 0; i < 10; ++i) {
      std::string value = text::toUtf8(rows.get(i));
      if (i == 1) value = value.substr(0, 10);
      out += (i ? " " : "") + value;
    }
  }
  return out;
}

}  // namespace traffic_test
