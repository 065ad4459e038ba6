// The mail provider of a Linux mail server with Postfix and Dovecot: traffic from their log
// lines, mailbox sizes from the Maildirs, mail through sendmail. Settings: provider_settings.h.
#include <new>
#include <stdexcept>

#include "cadro/mail_provider.h"
#include "mail_log_files.h"
#include "maildir_usage.h"
#include "provider_settings.h"
#include "provider_text.h"
#include "sendmail_message.h"

namespace postfix {

namespace {

std::string asciiName(const std::wstring& name) {
  std::string out;
  for (wchar_t c : name) {
    if (c <= 0 || c >= 128) throw std::runtime_error("A mailbox or domain name holds a character outside ASCII");
    out += static_cast<char>(c);
  }
  return out;
}

class Mailbox final : public mailmng::imailbox {
 public:
  Mailbox(std::string pattern, std::string name, std::string domain)
      : pattern_(std::move(pattern)), name_(std::move(name)), domain_(std::move(domain)) {}
  int64_t getDiskUsage() override { return maildirUsage(pattern_, name_, domain_); }
  void release() noexcept override { delete this; }

 private:
  ~Mailbox() = default;
  std::string pattern_, name_, domain_;
};

class Provider final : public mailmng::imailmngprovider {
 public:
  uint32_t interfaceVersion() const noexcept override { return mailmng::kInterfaceVersion; }

  bool supportsFeature(int32_t feature) override { return feature == mailmng::kFeatureMailboxDiskUsage; }

  void getMailTraffic(const mailmng::Moment& start, const mailmng::Moment& end, mailmng::MailDomainMap& domains,
                      mailmng::FileList& finishedFiles, mailmng::SentMessagesMap& sentMessages) override {
    collectMailTraffic(loadSettings(), start, end, domains, finishedFiles, sentMessages);
  }

  mailmng::imailbox* getMailbox(const std::wstring& mailName, const std::wstring& domainName) override {
    const ProviderSettings settings = loadSettings();
    std::string name = asciiName(mailName), domain = asciiName(domainName);
    maildirPath(settings.maildir, name, domain);  // refuses names that leave their directory
    return new Mailbox(settings.maildir, std::move(name), std::move(domain));
  }

  void send(const std::wstring& senderAddress, const std::wstring& senderName, const std::wstring& recipientAddress,
            const std::wstring& recipientName, const std::wstring& subject, const std::wstring& body,
            const mailmng::FileList& attachments, const std::wstring& carbonCopy,
            const std::wstring& blindCarbonCopy) override {
    const ProviderSettings settings = loadSettings();
    OutgoingMail mail;
    mail.from = toUtf8(senderAddress);
    mail.fromName = toUtf8(senderName);
    mail.to = toUtf8(recipientAddress);
    mail.toName = toUtf8(recipientName);
    mail.cc = addressList(toUtf8(carbonCopy));
    mail.bcc = addressList(toUtf8(blindCarbonCopy));
    mail.subject = toUtf8(subject);
    mail.body = toUtf8(body);
    for (const std::wstring& path : attachments) {
      mail.attachments.push_back(toFileName(path));
      mail.attachmentNames.push_back(toUtf8(path.substr(path.rfind(L'/') + 1)));
    }
    sendThroughSendmail(settings.sendmail, mail);
  }

  void release() noexcept override { delete this; }

 private:
  ~Provider() = default;
};

}  // namespace

}  // namespace postfix

extern "C" __attribute__((visibility("default"))) mailmng::imailmngprovider* getMailMngProviderInstance() {
  return new (std::nothrow) postfix::Provider();
}
