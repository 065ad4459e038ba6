#pragma once
// A message handed to "sendmail -t": headers that no caller text can break out of (CR, LF
// and other control characters never reach a header; names and subjects outside plain
// ASCII become RFC 2047 words), the body and each attachment base64-encoded in a
// multipart/mixed message.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace postfix {

struct OutgoingMail {
  std::string from, fromName;  // UTF-8
  std::string to, toName;
  std::vector<std::string> cc, bcc;
  std::string subject, body;
  std::vector<std::string> attachments;  // file names of the system's character set
  std::vector<std::string> attachmentNames;  // their UTF-8 names without directory
};

// The addresses of a "," separated list, blanks around each removed, empty ones dropped.
std::vector<std::string> addressList(const std::string& text);
// Throws std::runtime_error unless `address` is one plain "local@domain" address.
void checkAddress(const std::string& address);

// Writes the message to `sink` piece by piece (attachments are read in chunks); throws
// std::runtime_error for an unusable address or an attachment that cannot be read.
void writeMessage(const OutgoingMail& mail, const std::string& boundary,
                  const std::function<void(std::string_view)>& sink);

// Runs `sendmail` -t -i -f FROM with the message on its standard input; throws
// std::runtime_error when it cannot be started or exits other than with 0.
void sendThroughSendmail(const std::string& sendmail, const OutgoingMail& mail);

}  // namespace postfix
