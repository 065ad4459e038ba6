#pragma once
// The interface of the mail server's management provider: the shared library through which
// the statistics program learns a mail server's traffic and mailbox sizes, and sends mail.
// The management-service setting "MAIL_PROVIDERW_DLL" names the library; the program loads
// it with dlopen (it stays loaded until the process ends) and calls its export
// "getMailMngProviderInstance" each time it needs a provider object:
//   - the mail traffic task once per run: getMailTraffic for the period since the previous
//     calculation, then release;
//   - the mailbox usage task once per domain: supportsFeature(kFeatureMailboxDiskUsage),
//     getMailbox and getDiskUsage for each of the domain's mailboxes, then release;
//   - the domain log rotation once per log directory: send for each removed log file that
//     the domain's policy mails to someone, then release.
//
// Build a provider against this header alone: it uses the standard library only and needs
// nothing of the program. Provider and program must agree on the C++ standard library (the
// maps and strings below cross the boundary), so build with the same compiler family and
// standard library as the program; interfaceVersion() guards against an older header.
//
// Text: every std::wstring holds one character per element (UTF-32 here), never a NUL.
// Domain names are the control panel's lower-case names in their ASCII form (for example
// "xn--mnchen-3ya.de"); file paths are absolute and become file names through the system's
// narrow character set (the process locale, UTF-8 when it is "C").
//
// Failures: an operation that cannot do its work throws a standard exception
// (std::runtime_error and the like) whose what() explains it in the system's narrow
// character set; the program reports that text with its own context. Anything else thrown
// is reported as "Unexpected error". The program never calls an object from two threads.

#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mailmng {

// Version of this interface; a provider returns it from interfaceVersion().
inline constexpr uint32_t kInterfaceVersion = 1;

// Codes of supportsFeature.
inline constexpr int32_t kFeatureMailboxDiskUsage = 4;  // getMailbox and imailbox::getDiskUsage work

// A calendar day (Gregorian; month 1..12, day 1..31). Traffic is kept by UTC day.
struct Day {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  friend auto operator<=>(const Day&, const Day&) = default;
};

// A moment in UTC, to the second. All fields zero is "the beginning of time": the first
// calculation asks for everything the server still has. A start given on the program's
// command line may be incomplete ("--from-date=2024" has month and day 0) or out of range:
// order moments field by field, year first, as the program does, and such a start still
// marks where the period begins.
struct Moment {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
};

// The mail traffic of one domain on one day, in bytes. Each pair is "out" (sent) then "in"
// (received), named after the control panel's traffic columns the amounts are added to: the
// two SMTP pairs both go to smtp_out and smtp_in, the POP pair to pop3_imap_out and
// pop3_imap_in. Amounts are never negative.
struct MailDayTraffic {
  // Mail that the domain's senders passed to other servers: the bytes sent (smtp_out) and
  // received on those deliveries (smtp_in; usually 0).
  int64_t smtpOutSent = 0;
  int64_t smtpOutReceived = 0;
  // Mail delivered to the domain's mailboxes: the bytes sent back on those deliveries
  // (smtp_out; usually 0) and the bytes received (smtp_in).
  int64_t smtpInSent = 0;
  int64_t smtpInReceived = 0;
  // Mailbox access over POP3 and IMAP: the bytes sent to the domain's users
  // (pop3_imap_out) and received from them (pop3_imap_in).
  int64_t popSent = 0;
  int64_t popReceived = 0;
};

// A domain's traffic by day.
using MailDayMap = std::map<Day, MailDayTraffic>;
// Domain name -> its traffic. The program creates one entry, with an empty day map, for
// each domain whose mail service is on; a provider fills those day maps and adds no entry.
using MailDomainMap = std::map<std::wstring, MailDayMap>;
// Day -> number of messages the whole server sent that day.
using SentMessagesMap = std::map<Day, int64_t>;
// Absolute paths of files.
using FileList = std::vector<std::wstring>;

// A mailbox of the mail server, handed out by imailmngprovider::getMailbox.
class imailbox {
 public:
  // The bytes the mailbox occupies on disk (0 for an empty one, never negative). Throws
  // when it cannot be measured; the program then keeps the size it stored before.
  virtual int64_t getDiskUsage() = 0;
  // Ends the caller's use of the object; the caller never touches it afterwards.
  virtual void release() noexcept = 0;

 protected:
  // Objects end through release(), never through the program's delete.
  ~imailbox() = default;
};

class imailmngprovider {
 public:
  // kInterfaceVersion of the header the provider was built with. The program refuses a
  // provider of another version (as a corrupt library) and calls nothing else then,
  // except release().
  virtual uint32_t interfaceVersion() const noexcept = 0;

  // Whether the provider offers the optional operation `feature` (a kFeature... code);
  // false for codes it does not know. Throws only when it cannot tell.
  virtual bool supportsFeature(int32_t feature) = 0;

  // The mail traffic of the period start <= t < end (UTC; `start` may be all zero, see
  // Moment). For each entry of `domains` the provider adds that domain's traffic of the
  // period to its day map (the maps come empty); entries it knows nothing of stay empty.
  // Only days from start's day (1970-01-01 for a zero start) to end's day are allowed; a day
  // outside them, an impossible date or a negative amount makes the program refuse the
  // whole answer. It adds the
  // server's sent messages of the period to `sentMessages`, and appends to
  // `finishedFiles` the paths of the mail server's log files it has read to their end and
  // will not need again: the program deletes them, or moves them to the directory the
  // administrator keeps mail logs in, at the end of its run. Only regular files are taken
  // from that list (no symbolic link, no directory, no relative path, no ".."). The
  // program calls this once per run, and asks next time from this `end` on, so each piece
  // of traffic must be counted in exactly one period. Throws on failure: then nothing of
  // the answer is stored and the next run asks for the same period again.
  virtual void getMailTraffic(const Moment& start, const Moment& end, MailDomainMap& domains,
                              FileList& finishedFiles, SentMessagesMap& sentMessages) = 0;

  // The mailbox `mailName` (the part before "@") of `domainName`, owned by the caller
  // until its release(); needs kFeatureMailboxDiskUsage. Throws (or returns null) when
  // there is no such mailbox.
  virtual imailbox* getMailbox(const std::wstring& mailName, const std::wstring& domainName) = 0;

  // Sends one message and returns once the mail server has accepted it; throws when it
  // is not accepted. The sender is `senderAddress` with the display name `senderName`
  // (may be empty), the recipient `recipientAddress` with `recipientName` (may be
  // empty); `subject` and `body` are plain text (either may be empty); each path of
  // `attachments` is attached as a file under its own name (without directory);
  // `carbonCopy` and `blindCarbonCopy` are further recipients, addresses separated by
  // ",", empty for none. The program mails removed log files this way, one per message.
  virtual void send(const std::wstring& senderAddress, const std::wstring& senderName,
                    const std::wstring& recipientAddress, const std::wstring& recipientName,
                    const std::wstring& subject, const std::wstring& body, const FileList& attachments,
                    const std::wstring& carbonCopy, const std::wstring& blindCarbonCopy) = 0;

  // Ends the caller's use of the object; called once per object handed out, also after a
  // failed operation. Mailboxes still held stay valid until their own release().
  virtual void release() noexcept = 0;

  // The program's loader (defined in the program, never by a provider): reads
  // "MAIL_PROVIDERW_DLL" from the management service, loads that library once per process
  // and returns a new object of its export, owned by the caller until release().
  static imailmngprovider* load();

 protected:
  // Objects end through release(), never through the program's delete.
  ~imailmngprovider() = default;
};

// The export the program looks up, by this name, in the library.
inline constexpr const char* kGetMailMngProviderInstanceExport = "getMailMngProviderInstance";

// Its type: no arguments; a provider object for the caller (a new one or a shared one, as
// long as release() keeps count), or null when the provider cannot work at all (the
// program then reports the library as corrupt).
using GetMailMngProviderInstanceFunction = imailmngprovider* (*)();

}  // namespace mailmng

// A provider defines:  extern "C" mailmng::imailmngprovider* getMailMngProviderInstance();
