// A mail provider for the tests: it answers what a script file says and records the calls
// it gets. The environment variable CADRO_TEST_MAIL_PROVIDER_SCRIPT names the script; it is
// read anew for every provider object, so a test may change it between calls. Without the
// variable (or the file) the provider is an empty mail server without mailbox sizes.
//
// Script lines (ASCII, fields separated by blanks; unknown lines are ignored):
//   record PATH                         append one line per call to PATH
//   instance null|throw                 the export returns null / throws
//   version N                           interfaceVersion() returns N
//   feature N                           supportsFeature(N) is true
//   traffic DOMAIN Y-M-D A1 .. A6       adds the six amounts (MailDayTraffic order) to
//                                       DOMAIN's day, creating the entry if absent
//   sent Y-M-D N                        adds N sent messages to the day
//   file PATH                           appends PATH to the finished files
//   throw traffic|feature|mailbox       that operation throws (after filling its answer)
//   mailbox MAIL@DOMAIN SIZE|throw      the mailbox and its size, or a failing measurement
// Recorded lines: "instance", "traffic START END DOMAIN,DOMAIN,...", "feature N",
// "mailbox MAIL DOMAIN", "send FIELD|FIELD|...", "release".
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cadro/mail_provider.h"

namespace {

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }
std::string narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out += (c > 0 && c < 128) ? static_cast<char>(c) : '?';
  return out;
}

mailmng::Day parseDay(const std::string& text) {
  mailmng::Day d;
  std::sscanf(text.c_str(), "%d-%d-%d", &d.year, &d.month, &d.day);
  return d;
}

std::string momentText(const mailmng::Moment& m) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d %02d:%02d:%02d", m.year, m.month, m.day, m.hour, m.minute,
                m.second);
  return buffer;
}

struct Script {
  std::string record;
  std::string instance;
  uint32_t version = mailmng::kInterfaceVersion;
  std::set<int32_t> features;
  std::set<std::string> throwing;
  struct Traffic {
    std::wstring domain;
    mailmng::Day day;
    mailmng::MailDayTraffic amounts;
  };
  std::vector<Traffic> traffic;
  std::vector<std::pair<mailmng::Day, int64_t>> sent;
  std::vector<std::wstring> files;
  std::map<std::wstring, std::string> mailboxes;  // "mail@domain" -> size or "throw"

  static Script read() {
    Script s;
    const char* path = std::getenv("CADRO_TEST_MAIL_PROVIDER_SCRIPT");
    std::ifstream in(path ? path : "");
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string kind, a, b;
      fields >> kind;
      if (kind == "record") {
        fields >> s.record;
      } else if (kind == "instance") {
        fields >> s.instance;
      } else if (kind == "version") {
        fields >> s.version;
      } else if (kind == "feature") {
        int32_t code = 0;
        fields >> code;
        s.features.insert(code);
      } else if (kind == "throw") {
        fields >> a;
        s.throwing.insert(a);
      } else if (kind == "traffic") {
        Traffic t;
        fields >> a >> b >> t.amounts.smtpOutSent >> t.amounts.smtpOutReceived >> t.amounts.smtpInSent >>
            t.amounts.smtpInReceived >> t.amounts.popSent >> t.amounts.popReceived;
        t.domain = widen(a);
        t.day = parseDay(b);
        s.traffic.push_back(t);
      } else if (kind == "sent") {
        int64_t count = 0;
        fields >> a >> count;
        s.sent.emplace_back(parseDay(a), count);
      } else if (kind == "file") {
        fields >> a;
        s.files.push_back(widen(a));
      } else if (kind == "mailbox") {
        fields >> a >> b;
        s.mailboxes[widen(a)] = b;
      }
    }
    return s;
  }

  void log(const std::string& line) const {
    if (record.empty()) return;
    std::ofstream(record, std::ios::app) << line << "\n";
  }
};

class TestMailbox final : public mailmng::imailbox {
 public:
  explicit TestMailbox(std::string size) : size_(std::move(size)) {}
  int64_t getDiskUsage() override {
    if (size_ == "throw") throw std::runtime_error("the test mailbox cannot be measured");
    return std::strtoll(size_.c_str(), nullptr, 10);
  }
  void release() noexcept override { delete this; }

 private:
  std::string size_;
};

class TestProvider final : public mailmng::imailmngprovider {
 public:
  explicit TestProvider(Script script) : script_(std::move(script)) {}

  uint32_t interfaceVersion() const noexcept override { return script_.version; }

  bool supportsFeature(int32_t feature) override {
    script_.log("feature " + std::to_string(feature));
    if (script_.throwing.count("feature")) throw std::runtime_error("the test provider cannot tell its features");
    return script_.features.count(feature) != 0;
  }

  void getMailTraffic(const mailmng::Moment& start, const mailmng::Moment& end, mailmng::MailDomainMap& domains,
                      mailmng::FileList& finishedFiles, mailmng::SentMessagesMap& sentMessages) override {
    std::string asked;
    for (const auto& [name, days] : domains) asked += (asked.empty() ? "" : ",") + narrow(name);
    script_.log("traffic " + momentText(start) + " " + momentText(end) + " " + asked);
    for (const Script::Traffic& t : script_.traffic) {
      mailmng::MailDayTraffic& day = domains[t.domain][t.day];
      day.smtpOutSent += t.amounts.smtpOutSent;
      day.smtpOutReceived += t.amounts.smtpOutReceived;
      day.smtpInSent += t.amounts.smtpInSent;
      day.smtpInReceived += t.amounts.smtpInReceived;
      day.popSent += t.amounts.popSent;
      day.popReceived += t.amounts.popReceived;
    }
    for (const auto& [day, count] : script_.sent) sentMessages[day] += count;
    for (const std::wstring& file : script_.files) finishedFiles.push_back(file);
    if (script_.throwing.count("traffic")) throw std::runtime_error("the test provider failed to read the mail logs");
  }

  mailmng::imailbox* getMailbox(const std::wstring& mailName, const std::wstring& domainName) override {
    script_.log("mailbox " + narrow(mailName) + " " + narrow(domainName));
    if (script_.throwing.count("mailbox")) throw std::runtime_error("the test provider cannot open mailboxes");
    auto found = script_.mailboxes.find(mailName + L"@" + domainName);
    if (found == script_.mailboxes.end()) throw std::runtime_error("no such mailbox");
    return new TestMailbox(found->second);
  }

  void send(const std::wstring& senderAddress, const std::wstring& senderName, const std::wstring& recipientAddress,
            const std::wstring& recipientName, const std::wstring& subject, const std::wstring& body,
            const mailmng::FileList& attachments, const std::wstring& carbonCopy,
            const std::wstring& blindCarbonCopy) override {
    std::string line = "send";
    for (const std::wstring* field : {&senderAddress, &senderName, &recipientAddress, &recipientName, &subject, &body})
      line += (line == "send" ? " " : "|") + narrow(*field);
    for (const std::wstring& a : attachments) line += "|" + narrow(a);
    line += "|" + narrow(carbonCopy) + "|" + narrow(blindCarbonCopy);
    script_.log(line);
    if (script_.throwing.count("send")) throw std::runtime_error("the test provider cannot send");
  }

  void release() noexcept override {
    script_.log("release");
    delete this;
  }

 private:
  ~TestProvider() = default;
  Script script_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) mailmng::imailmngprovider* getMailMngProviderInstance() {
  Script script = Script::read();
  script.log("instance");
  if (script.instance == "null") return nullptr;
  if (script.instance == "throw") throw std::runtime_error("the test provider refuses to start");
  return new TestProvider(std::move(script));
}
