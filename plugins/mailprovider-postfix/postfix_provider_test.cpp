// The Postfix and Dovecot mail provider: its line parser over a table of real and hostile
// lines, and the built library loaded through the program's loader over sample logs (both
// time stamp shapes, CRLF, a gzip-rotated file, queue ids spread over two files), Maildirs
// with planted links, and a recording sendmail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "mail_log_line.h"
#include "provider_settings.h"
#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"
#include "traffic/mail_provider_loader.h"

using namespace std::string_literals;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

int64_t utc(int32_t y, int32_t m, int32_t d, int32_t secondsOfDay) {
  return postfix::daysFromCivil(y, m, d) * 86400 + secondsOfDay;
}

// A log written one hour east of UTC.
int64_t oneHourEast(void*, int32_t y, int32_t m, int32_t d, int32_t secondsOfDay) {
  return utc(y, m, d, secondsOfDay) - 3600;
}

std::string describe(const postfix::MailLogLine& l) {
  static const char* const kinds[] = {"other", "queued", "removed", "delivered", "access"};
  std::string out = kinds[static_cast<int>(l.kind)];
  if (l.kind == postfix::LineKind::kOther) return out;
  out += " t=" + std::to_string(l.utcSeconds - utc(2026, 12, 8, 0));
  if (!l.queueId.empty()) out += " id=" + std::string(l.queueId);
  if (l.kind != postfix::LineKind::kRemoved) out += " <" + std::string(l.address) + ">";
  if (l.kind == postfix::LineKind::kQueued) out += " size=" + std::to_string(l.size);
  if (l.kind == postfix::LineKind::kDelivered)
    out += " agent=" + std::to_string(static_cast<int>(l.agent)) + (l.loopbackRelay ? " loopback" : "");
  if (l.kind == postfix::LineKind::kMailboxAccess)
    out += " in=" + std::to_string(l.bytesIn) + " out=" + std::to_string(l.bytesOut);
  return out;
}

std::string decodeBase64(const std::string& text) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const size_t v = alphabet.find(c);
    if (v == std::string::npos) continue;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if ((count += 6) >= 8) out += static_cast<char>((bits >> (count -= 8)) & 0xff);
  }
  return out;
}

void setModified(const std::string& path, int64_t when) {
  const struct timespec times[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void writeGzip(const std::string& path, const std::string& content) {
  gzFile out = gzopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  gzwrite(out, content.data(), static_cast<unsigned>(content.size()));
  gzclose(out);
}

// The built library, loaded as the program loads it, with its settings file.
class LoadedProvider {
 public:
  explicit LoadedProvider(const TempDir& dir, const std::string& settings) {
    writeFile(dir.file("provider.ini"), settings);
    environment_.set(postfix::kSettingsVariable, dir.file("provider.ini"));
    provider_.reset(mailmng::loadProviderLibrary(L"" CADRO_POSTFIX_PROVIDER));
  }
  mailmng::imailmngprovider& operator*() { return *provider_; }
  mailmng::imailmngprovider* operator->() { return provider_.get(); }

 private:
  testing_support::ScopedEnvironment environment_;
  mailmng::ProviderHandle provider_;
};

}  // namespace

TEST(PostfixLogLine, Catalogue) {
  postfix::LineClock clock;
  clock.referenceYear = 2027;  // a file last written on 2 January 2027
  clock.referenceMonth = 1;
  clock.referenceDay = 2;
  clock.localToUtc = &oneHourEast;
  struct Case {
    const char* what;
    std::string line;
    std::string expected;
  };
  const Case cases[] = {
      {"queued, traditional stamp of the year before the file's",
       "Dec  8 01:00:05 mx postfix/qmgr[812]: 4BXdq2: from=<Ann@Remote.example>, size=1523, nrcpt=2 (queue active)",
       "queued t=5 id=4BXdq2 <Ann@Remote.example> size=1523"},
      {"fraction and a second instance", "Dec 08 01:00:05.250 mx postfix-out/qmgr[1]: ABCDEF: removed",
       "removed t=5 id=ABCDEF"},
      {"RFC 3339 with an offset",
       "2026-12-08T02:00:00.123456+02:00 mx postfix/smtp[9]: 4BXdq2: to=<x@remote.example>, "
       "relay=mx.remote.example[198.51.100.7]:25, delay=0.4, dsn=2.0.0, status=sent (250 2.0.0 Ok)",
       "delivered t=0 id=4BXdq2 <x@remote.example> agent=0"},
      {"RFC 3339 in UTC", "2026-12-08T00:00:09Z mx postfix/qmgr[1]: QQQQQ1: removed", "removed t=9 id=QQQQQ1"},
      {"RFC 3339 without offset is the log's zone", "2026-12-08T01:00:00 mx postfix/qmgr[1]: QQQQQ1: removed",
       "removed t=0 id=QQQQQ1"},
      {"relay to a content filter",
       "Dec  8 01:00:00 mx postfix/smtp[9]: 4BXdq2: to=<x@example.com>, relay=127.0.0.1[127.0.0.1]:10024, "
       "status=sent (250 queued as 77)",
       "delivered t=0 id=4BXdq2 <x@example.com> agent=0 loopback"},
      {"lmtp into Dovecot",
       "Dec  8 01:00:00 mx postfix/lmtp[9]: 4BXdq2: to=<bob@acme.test>, relay=mx[private/dovecot-lmtp], "
       "status=sent (250 2.0.0 Saved)",
       "delivered t=0 id=4BXdq2 <bob@acme.test> agent=1"},
      {"local delivery", "Dec  8 01:00:00 mx postfix/local[9]: 4BXdq2: to=<root@example.com>, orig_to=<root>, "
                         "relay=local, delay=0, status=sent (delivered to mailbox)",
       "delivered t=0 id=4BXdq2 <root@example.com> agent=2"},
      {"bounced is no delivery",
       "Dec  8 01:00:00 mx postfix/smtp[9]: 4BXdq2: to=<x@remote.example>, relay=none, status=bounced (Host not found)",
       "other"},
      {"deferred is no delivery", "Dec  8 01:00:00 mx postfix/virtual[9]: 4BXdq2: to=<a@b.c>, status=deferred (x)",
       "other"},
      {"IMAP logout", "Dec  8 01:00:00 mx dovecot: imap(john@example.com)<4711><kP2>: Logged out in=123 out=4567 "
                      "deleted=0 expunged=0",
       "access t=0 <john@example.com> in=123 out=4567"},
      {"POP3 logout with its counters", "Dec  8 01:00:00 mx dovecot[77]: pop3(bob@acme.test)<1><2>: Disconnected: "
                                        "Logged out top=0/0, retr=1/2345, del=0/1, size=2345 in=10 out=2400",
       "access t=0 <bob@acme.test> in=10 out=2400"},
      {"the older byte counts", "Dec  8 01:00:00 mx dovecot: IMAP(a@b.c): Disconnected: Logged out bytes=12/345",
       "access t=0 <a@b.c> in=12 out=345"},
      {"a login is no traffic", "Dec  8 01:00:00 mx dovecot: imap-login: Login: user=<a@b.c>, method=PLAIN", "other"},
      {"other daemons", "Dec  8 01:00:00 mx CRON[5]: (root) CMD (run-parts /etc/cron.hourly) size=5", "other"},
      {"smtpd", "Dec  8 01:00:00 mx postfix/smtpd[5]: connect from unknown[192.0.2.1]", "other"},
      {"NOQUEUE", "Dec  8 01:00:00 mx postfix/smtpd[5]: NOQUEUE: reject: RCPT from x: 554 5.7.1; from=<a@b.c>", "other"},
      {"an impossible day", "Feb 30 01:00:00 mx postfix/qmgr[1]: ABCDEF: removed", "other"},
      {"an impossible hour", "Dec  8 24:00:00 mx postfix/qmgr[1]: ABCDEF: removed", "other"},
      {"a size beyond any message", "Dec  8 01:00:00 mx postfix/qmgr[1]: ABCDEF: from=<a@b.c>, size=99999999999999999999",
       "other"},
      {"a sender without closing bracket", "Dec  8 01:00:00 mx postfix/qmgr[1]: ABCDEF: from=<a@b.c, size=5", "other"},
      {"NUL bytes", "Dec  8 01:00:00 mx postfix/qmgr[1]: AB\0DEF: removed"s, "other"},
      {"NUL inside the address", "Dec  8 01:00:00 mx postfix/qmgr[1]: ABCDEF: from=<a\0@b.c>, size=7"s,
       "queued t=0 id=ABCDEF <a\0@b.c> size=7"s},
      {"invalid UTF-8", "Dec  8 01:00:00 mx dovecot: imap(\xff\xfe@b.c)<1>: Logged out in=1 out=2",
       "access t=0 <\xff\xfe@b.c> in=1 out=2"},
      {"cut in the stamp", "Dec  8 01:0", "other"},
      {"no message", "Dec  8 01:00:00 mx", "other"},
      {"empty", "", "other"},
  };
  for (const Case& c : cases) EXPECT_EQ(describe(postfix::parseMailLogLine(c.line, clock)), c.expected) << c.what;
  // Every cut of a delivery line parses without reading beyond it.
  const std::string full = cases[2].line;
  for (size_t n = 0; n <= full.size(); ++n) postfix::parseMailLogLine(std::string_view(full).substr(0, n), clock);

  clock.fixedYear = 2020;
  EXPECT_EQ(postfix::parseMailLogLine("Dec  8 01:00:00 mx postfix/qmgr[1]: ABCDEF: removed", clock).utcSeconds,
            utc(2020, 12, 8, 0));
  char buffer[11];
  EXPECT_EQ(postfix::addressDomain("John@Example.COM.", buffer, sizeof buffer), "example.com");
  EXPECT_EQ(postfix::addressDomain("John@Example.COM.x", buffer, sizeof buffer), "");  // does not fit
  EXPECT_EQ(postfix::addressDomain("root", buffer, sizeof buffer), "");
}

TEST(PostfixSettings, Catalogue) {
  struct Case {
    std::string text;
    std::string expected;  // the fields, or the error
  };
  const Case cases[] = {
      {"", "/var/log/mail.log* | /var/mail/vhosts/%d/%n/Maildir | /usr/sbin/sendmail | local 0 | 0"},
      {"[mail]\n; comment\nlog_files = /a/mail.log  /b/*.gz\r\nlog_time_zone = -05:30\nlog_year = 2025\n"
       "sendmail = /bin/true\nmaildir = /m/%u\n",
       "/a/mail.log /b/*.gz | /m/%u | /bin/true | fixed -19800 | 2025"},
      {"log_time_zone = UTC", "/var/log/mail.log* | /var/mail/vhosts/%d/%n/Maildir | /usr/sbin/sendmail | fixed 0 | 0"},
      {"log_time_zone = Europe/Berlin", "conf:1: log_time_zone must be local, UTC or an offset such as +01:00"},
      {"\nlog_year = 19", "conf:2: log_year must be auto or a year"},
      {"sendmail = sendmail", "conf:1: sendmail must be an absolute path"},
      {"logfiles = x", "conf:1: unknown setting \"logfiles\""},
      {"just words", "conf:1: no \"key = value\""},
  };
  for (const Case& c : cases) {
    std::string got;
    try {
      const postfix::ProviderSettings s = postfix::parseSettings(c.text, "conf");
      for (const std::string& f : s.logFiles) got += (got.empty() ? "" : " ") + f;
      got += " | " + s.maildir + " | " + s.sendmail + " | " + (s.localZone ? "local " : "fixed ") +
             std::to_string(s.zoneOffsetSeconds) + " | " + std::to_string(s.fixedYear);
    } catch (const std::runtime_error& e) {
      got = e.what();
    }
    EXPECT_EQ(got, c.expected) << c.text;
  }
}

// Three files of a server in UTC: mail.log.2.gz (6 December, before the period), mail.log.1
// (7 December, traditional stamps) and mail.log (8 December, RFC 3339, CRLF). The period is
// 2026-12-07 00:00:00 to 2026-12-08 09:00:00; example.com and acme.test are hosted.
TEST(PostfixProvider, TrafficOfSampleLogs) {
  TempDir dir;
  const std::string log = dir.file("log/mail.log");
  mkdir(dir.file("log").c_str(), 0755);
  writeGzip(log + ".2.gz",
            "Dec  6 10:00:00 mx postfix/qmgr[10]: AAAA1: from=<old@remote.example>, size=999, nrcpt=1 (queue active)\n"
            "Dec  6 10:00:01 mx postfix/virtual[11]: AAAA1: to=<john@example.com>, relay=virtual, status=sent (ok)\n"
            "Dec  6 10:00:02 mx postfix/qmgr[10]: AAAA1: removed\n");
  const std::string day7 =
      // to two domains
      "Dec  7 08:00:00 mx postfix/qmgr[10]: BBBB1: from=<ann@remote.example>, size=1000, nrcpt=2 (queue active)\n"
      "Dec  7 08:00:01 mx postfix/virtual[11]: BBBB1: to=<john@example.com>, relay=virtual, status=sent (ok)\n"
      "Dec  7 08:00:01 mx postfix/lmtp[12]: BBBB1: to=<bob@Acme.Test>, relay=mx[private/dovecot-lmtp], status=sent\n"
      "Dec  7 08:00:02 mx postfix/qmgr[10]: BBBB1: removed\n"
      // sent out, and once through a content filter
      "Dec  7 09:00:00 mx postfix/qmgr[10]: CCCC1: from=<john@example.com>, size=2000, nrcpt=2 (queue active)\n"
      "Dec  7 09:00:01 mx postfix/smtp[13]: CCCC1: to=<x@remote.example>, relay=mx.remote.example[198.51.100.1]:25, "
      "status=sent (250 ok)\n"
      "Dec  7 09:00:01 mx postfix/smtp[13]: CCCC1: to=<y@remote.example>, relay=127.0.0.1[127.0.0.1]:10024, "
      "status=sent (250 ok)\n"
      "Dec  7 09:00:02 mx postfix/qmgr[10]: CCCC1: removed\n"
      // bounced, the notification delivered to the sender
      "Dec  7 10:00:00 mx postfix/qmgr[10]: DDDD1: from=<john@example.com>, size=3000, nrcpt=1 (queue active)\n"
      "Dec  7 10:00:01 mx postfix/smtp[13]: DDDD1: to=<nobody@remote.example>, relay=none, status=bounced (no host)\n"
      "Dec  7 10:00:01 mx postfix/bounce[14]: DDDD1: sender non-delivery notification: EEEE1\n"
      "Dec  7 10:00:01 mx postfix/qmgr[10]: EEEE1: from=<>, size=500, nrcpt=1 (queue active)\n"
      "Dec  7 10:00:01 mx postfix/qmgr[10]: DDDD1: removed\n"
      "Dec  7 10:00:02 mx postfix/virtual[11]: EEEE1: to=<john@example.com>, relay=virtual, status=sent (ok)\n"
      "Dec  7 10:00:02 mx postfix/qmgr[10]: EEEE1: removed\n"
      // a local delivery
      "Dec  7 11:00:00 mx postfix/qmgr[10]: FFFF1: from=<root@mx.example.com>, size=700, nrcpt=1 (queue active)\n"
      "Dec  7 11:00:00 mx postfix/local[15]: FFFF1: to=<root@example.com>, orig_to=<root>, relay=local, "
      "status=sent (delivered to mailbox)\n"
      "Dec  7 11:00:00 mx postfix/qmgr[10]: FFFF1: removed\n"
      // other daemons
      "Dec  7 11:30:00 mx CRON[5]: (root) CMD (size=100000)\n"
      "Dec  7 11:30:00 mx postfix/smtpd[5]: connect from unknown[192.0.2.1]\n"
      "Dec  7 11:30:00 mx sshd[6]: Accepted publickey for root\n"
      "Dec  7 12:00:00 mx dovecot: imap(john@example.com)<123><abc>: Logged out in=123 out=4567\n"
      "Dec  7 12:00:01 mx dovecot: imap(eve@other.test)<124><abd>: Logged out in=1 out=1\n"
      "Dec  7 23:59:59 mx dovecot: pop3(bob@acme.test)<124><def>: Disconnected: Logged out top=0/0, retr=1/2345, "
      "del=0/1, size=2345 in=10 out=2400\n"
      // queued on the last second of the day, delivered after midnight in the next file
      "Dec  7 23:59:59 mx postfix/qmgr[10]: GGGG1: from=<ann@remote.example>, size=4000, nrcpt=1 (queue active)\n";
  writeFile(log + ".1", day7);
  const std::string day8 =
      "2026-12-08T00:00:02.123456+00:00 mx postfix/virtual[20]: GGGG1: to=<john@example.com>, relay=virtual, "
      "status=sent (delivered)\r\n" +
      std::string(2'000'000, 'x') + "\r\n" + "2026-12-08T00:00:03+00:00 mx postfix/qmgr[20]: GGGG1: removed\r\n" +
      "2026-12-08T00:00:04+00:00 mx postfix/qmgr[20]: \0\xff\xfe: removed\r\n"s +
      "2026-12-08T01:00:00+01:00 mx dovecot: imap(john@example.com)<1><2>: Logged out in=5 out=6\r\n"
      "2026-12-08T09:00:00+00:00 mx dovecot: imap(john@example.com)<1><2>: Logged out in=1000 out=1000\r\n"
      "2026-12-08T09:00:00+00:00 mx dovecot: imap(john@example.com)<1><2>: Logged out in=1 out=1";
  writeFile(log, day8);
  setModified(log + ".2.gz", utc(2026, 12, 6, 86399));
  setModified(log + ".1", utc(2026, 12, 7, 86399));
  setModified(log, utc(2026, 12, 8, 36000));
  ASSERT_EQ(symlink((log + ".1").c_str(), (log + ".9").c_str()), 0);  // read once, never as a link

  const mailmng::Moment start{2026, 12, 7, 0, 0, 0}, end{2026, 12, 8, 9, 0, 0};
  auto run = [&](mailmng::MailDomainMap& domains, mailmng::SentMessagesMap& sent) {
    LoadedProvider provider(dir, "log_files = " + log + " " + log + ".*\nlog_time_zone = UTC\n");
    mailmng::FileList finished;
    provider->getMailTraffic(start, end, domains, finished, sent);
    std::vector<std::string> names;
    for (const std::wstring& f : finished) names.push_back(std::string(f.begin(), f.end()).substr(dir.path().size()));
    return names;
  };
  mailmng::MailDomainMap domains = {{L"example.com", {}}, {L"acme.test", {}}, {L"unused.test", {}}};
  mailmng::SentMessagesMap sent;
  EXPECT_EQ(run(domains, sent), (std::vector<std::string>{"/log/mail.log.2.gz", "/log/mail.log.1"}));

  auto text = [](const mailmng::MailDayMap& days) {
    std::string out;
    for (const auto& [d, t] : days)
      out += std::to_string(d.month) + "-" + std::to_string(d.day) + ": " + std::to_string(t.smtpOutSent) + " " +
             std::to_string(t.smtpOutReceived) + " " + std::to_string(t.smtpInSent) + " " +
             std::to_string(t.smtpInReceived) + " " + std::to_string(t.popSent) + " " + std::to_string(t.popReceived) +
             "; ";
    return out;
  };
  EXPECT_EQ(domains.size(), 3u);  // no entry for other.test
  EXPECT_EQ(text(domains[L"example.com"]), "12-7: 2000 0 0 2200 4567 123; 12-8: 0 0 0 4000 6 5; ");
  EXPECT_EQ(text(domains[L"acme.test"]), "12-7: 0 0 0 1000 2400 10; ");
  EXPECT_EQ(text(domains[L"unused.test"]), "");
  EXPECT_EQ(sent, (mailmng::SentMessagesMap{{{2026, 12, 7}, 4}, {{2026, 12, 8}, 1}}));

  // Without its removal the message queued in mail.log.1 keeps that file; a gzip file cut
  // short counts up to the cut and stays.
  writeFile(log, day8.substr(0, day8.find("2026-12-08T00:00:03")));
  setModified(log, utc(2026, 12, 8, 36000));
  std::string cut;
  for (int i = 0; i < 200; ++i)
    cut += "Dec  7 13:00:00 mx dovecot: imap(john@example.com)<1><2>: Logged out in=0 out=" + std::to_string(i) + "\n";
  writeGzip(log + ".3.gz", cut);
  cut = testing_support::readFile(log + ".3.gz");
  writeFile(log + ".3.gz", cut.substr(0, cut.size() - 30));
  setModified(log + ".3.gz", utc(2026, 12, 7, 50000));
  mailmng::MailDomainMap again = {{L"example.com", {}}};
  sent.clear();
  EXPECT_EQ(run(again, sent), (std::vector<std::string>{"/log/mail.log.2.gz"}));
  const std::string again7 = text(again[L"example.com"]);
  EXPECT_TRUE(again7.starts_with("12-7: 2000 0 0 2200 ") && again7.ends_with(" 123; 12-8: 0 0 0 4000 0 0; ")) << again7;
  EXPECT_GT((again[L"example.com"][{2026, 12, 7}].popSent), 4567);  // lines before the cut
}

TEST(PostfixProvider, LocalZoneAndYearFromTheFile) {
  TempDir dir;
  testing_support::ScopedEnvironment zone;
  zone.set("TZ", "Europe/Berlin");
  tzset();
  const std::string log = dir.file("mail.log");
  // Written in January 2027: December's lines are of 2026; 00:30 in Berlin is 23:30 UTC.
  writeFile(log,
            "Dec 31 00:30:00 mx dovecot: imap(a@example.com)<1>: Logged out in=1 out=2\n"
            "Jan  1 00:30:00 mx dovecot: imap(a@example.com)<1>: Logged out in=3 out=4\n"
            "Jul  1 00:30:00 mx dovecot: imap(a@example.com)<1>: Logged out in=5 out=6\n"
            // UTC 1969: before the zero start's first day
            "1970-01-01T00:30:00+01:00 mx dovecot: imap(a@example.com)<1>: Logged out in=7 out=8\n");
  setModified(log, utc(2027, 1, 2, 0));
  mailmng::MailDomainMap domains = {{L"example.com", {}}};
  mailmng::SentMessagesMap sent;
  mailmng::FileList finished;
  {
    LoadedProvider provider(dir, "log_files = " + log + "\n");
    provider->getMailTraffic({}, {2027, 1, 2, 0, 0, 0}, domains, finished, sent);
  }
  zone.unset("TZ");
  tzset();
  std::vector<std::string> days;
  for (const auto& [d, t] : domains[L"example.com"])
    days.push_back(std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day) + " " +
                   std::to_string(t.popSent));
  EXPECT_EQ(days, (std::vector<std::string>{"2026-6-30 6", "2026-12-30 2", "2026-12-31 4"}));
  EXPECT_TRUE(finished.empty());  // the current file stays
}

TEST(PostfixProvider, MaildirUsage) {
  TempDir dir;
  const std::string box = dir.file("vhosts/example.com/john/Maildir");
  writeFile(box + "/cur/1.mx:2,S", std::string(100, 'a'));
  writeFile(box + "/new/2.mx", std::string(20, 'b'));
  writeFile(box + "/.Sent/cur/3.mx:2,S", std::string(5, 'c'));
  writeFile(dir.file("elsewhere/big"), std::string(10000, 'x'));
  ASSERT_EQ(symlink(dir.file("elsewhere/big").c_str(), (box + "/cur/link").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("elsewhere").c_str(), (box + "/.Evil").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("elsewhere").c_str(), dir.file("vhosts/example.com/planted").c_str()), 0);
  mkdir(dir.file("vhosts/example.com/empty").c_str(), 0755);

  LoadedProvider provider(dir, "maildir = " + dir.file("vhosts/%d/%n/Maildir") + "\n");
  EXPECT_TRUE(provider->supportsFeature(mailmng::kFeatureMailboxDiskUsage));
  EXPECT_FALSE(provider->supportsFeature(1));
  struct Case {
    std::wstring name;
    std::string expected;
  };
  const Case cases[] = {
      {L"john", "125"},
      {L"empty", "0"},  // nothing delivered yet
      {L"nobody", "0"},
      {L"planted", "error: The Maildir path " + dir.file("vhosts/example.com/planted/Maildir") +
                       " passes through a symbolic link or a file"},
      {L"..", "error: Unusable mailbox name \"..\" for a Maildir"},
      {L"a/b", "error: Unusable mailbox name \"a/b\" for a Maildir"},
      {L"a\nb", "error: Unusable mailbox name \"a\nb\" for a Maildir"},
  };
  for (const Case& c : cases) {
    std::string got;
    try {
      mailmng::MailboxHandle mailbox(provider->getMailbox(c.name, L"example.com"));
      got = std::to_string(mailbox->getDiskUsage());
    } catch (const std::runtime_error& e) {
      got = std::string("error: ") + e.what();
    }
    EXPECT_EQ(got, c.expected) << std::string(c.name.begin(), c.name.end());
  }
}

TEST(PostfixProvider, SendsThroughSendmail) {
  TempDir dir;
  const std::string script = dir.file("sendmail");
  writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$0.args\"\ncat >\"$0.message\"\nexit $(cat \"$0.code\")\n");
  chmod(script.c_str(), 0755);
  writeFile(script + ".code", "0");
  std::string content;
  for (int i = 0; i < 70000; ++i) content += static_cast<char>(i * 7 % 256);
  writeFile(dir.file("logs/access_log.1"), content);
  writeFile(dir.file("logs/Grüße.log"), "hello");

  LoadedProvider provider(dir, "sendmail = " + script + "\n");
  auto send = [&](const std::wstring& from, const std::wstring& subject, const mailmng::FileList& files) {
    provider->send(from, L"Stats \"Robot\"", L"admin@example.com", L"Admin\r\nBcc: evil@attacker.test",
                   subject, L"Your logs.\n", files, L"a@example.com, b@example.com", L"hidden@example.com");
  };
  send(L"stats@example.com", L"Logs\r\nBcc: evil@attacker.test",
       {L"" + std::wstring(dir.path().begin(), dir.path().end()) + L"/logs/access_log.1",
        std::wstring(dir.path().begin(), dir.path().end()) + L"/logs/Gr\u00fc\u00dfe.log"});
  EXPECT_EQ(testing_support::readFile(script + ".args"), "-t\n-i\n-f\nstats@example.com\n");
  const std::string message = testing_support::readFile(script + ".message");
  const std::string head = message.substr(0, message.find("\n\n"));
  const size_t boundaryAt = head.find("boundary=\"") + 10;
  const std::string boundary = head.substr(boundaryAt, head.find('"', boundaryAt) - boundaryAt);
  EXPECT_EQ(head.substr(0, head.find("Date: ")),
            "From: \"Stats \\\"Robot\\\"\" <stats@example.com>\n"
            "To: \"Admin  Bcc: evil@attacker.test\" <admin@example.com>\n"
            "Cc: a@example.com,\n b@example.com\n"
            "Bcc: hidden@example.com\n"
            "Subject: Logs  Bcc: evil@attacker.test\n");
  EXPECT_NE(head.find("\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\""), std::string::npos);
  // The parts: the body, then each file under its own name.
  std::vector<std::string> parts;  // between the boundary lines; the preamble and the end left out
  const std::string delimiter = "\n--" + boundary;
  for (size_t at = message.find(delimiter); message.compare(at + delimiter.size(), 2, "--") != 0;) {
    const size_t next = message.find(delimiter, at + 1);
    ASSERT_NE(next, std::string::npos);
    parts.push_back(message.substr(at + delimiter.size() + 1, next - at - delimiter.size() - 1));
    at = next;
  }
  ASSERT_EQ(parts.size(), 3u);
  auto split = [](const std::string& part) {
    const size_t gap = part.find("\n\n");
    return std::make_pair(part.substr(0, gap), decodeBase64(part.substr(gap + 2)));
  };
  EXPECT_EQ(split(parts[0]), std::make_pair("Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: "
                                            "base64"s,
                                            "Your logs.\n"s));
  EXPECT_EQ(split(parts[1]).first, "Content-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n"
                                   "Content-Disposition: attachment; filename=\"access_log.1\"");
  EXPECT_EQ(split(parts[1]).second, content);
  EXPECT_EQ(split(parts[2]).first, "Content-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n"
                                   "Content-Disposition: attachment; filename*=UTF-8''Gr%C3%BC%C3%9Fe.log");
  EXPECT_EQ(message.substr(message.size() - boundary.size() - 5), "--" + boundary + "--\n");

  // A non-ASCII subject is encoded; refusals and failures throw.
  send(L"stats@example.com", L"Stat\u00fcs", {});
  EXPECT_NE(testing_support::readFile(script + ".message").find("\nSubject: =?UTF-8?B?U3RhdMO8cw==?=\n"),
            std::string::npos);
  struct Failure {
    std::wstring from;
    std::string code;
    std::string expected;
  };
  const Failure failures[] = {
      {L"stats@example.com", "75", script + " did not accept the message (exit code 75)"},
      {L"-oQ/tmp@example.com", "0", "\"-oQ/tmp@example.com\" is no usable mail address"},
      {L"a@example.com\nBcc: x@y.z", "0", "\"a@example.com Bcc: x@y.z\" is no usable mail address"},
  };
  for (const Failure& f : failures) {
    writeFile(script + ".code", f.code);
    std::string got = "accepted";
    try {
      send(f.from, L"s", {});
    } catch (const std::runtime_error& e) {
      got = e.what();
    }
    EXPECT_EQ(got, f.expected);
  }
}
