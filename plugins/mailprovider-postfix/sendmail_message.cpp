#include "sendmail_message.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>

namespace postfix {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Base64 of `data` in lines of 76 characters; `data` a multiple of 57 bytes except at the end.
void base64Lines(std::string_view data, std::string& out) {
  for (size_t line = 0; line < data.size(); line += 57) {
    const std::string_view part = data.substr(line, 57);
    for (size_t i = 0; i < part.size(); i += 3) {
      const uint32_t a = static_cast<unsigned char>(part[i]);
      const uint32_t b = i + 1 < part.size() ? static_cast<unsigned char>(part[i + 1]) : 0;
      const uint32_t c = i + 2 < part.size() ? static_cast<unsigned char>(part[i + 2]) : 0;
      const uint32_t v = (a << 16) | (b << 8) | c;
      out += kBase64[v >> 18];
      out += kBase64[(v >> 12) & 63];
      out += i + 1 < part.size() ? kBase64[(v >> 6) & 63] : '=';
      out += i + 2 < part.size() ? kBase64[v & 63] : '=';
    }
    out += '\n';
  }
}

std::string base64(std::string_view data) {
  std::string out;
  base64Lines(data, out);
  if (!out.empty()) out.pop_back();
  return out;
}

// Control characters (CR and LF among them) become blanks.
std::string headerSafe(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return out;
}

bool plainAscii(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x7f) return false;
  return true;
}

// RFC 2047 words of at most 45 bytes of UTF-8 each (split between characters), folded.
std::string encodedWords(const std::string& text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    size_t length = std::min<size_t>(45, text.size() - at);
    while (at + length < text.size() && (static_cast<unsigned char>(text[at + length]) & 0xc0) == 0x80) --length;
    if (!out.empty()) out += "\n ";
    out += "=?UTF-8?B?" + base64(std::string_view(text).substr(at, length)) + "?=";
    at += length;
  }
  return out;
}

// An unstructured header value: as it stands when plain and short, else encoded.
std::string headerText(const std::string& text) {
  const std::string safe = headerSafe(text);
  return plainAscii(safe) && safe.size() <= 900 ? safe : encodedWords(safe);
}

// "Name <address>", the name quoted or encoded.
std::string mailbox(const std::string& address, const std::string& name) {
  checkAddress(address);
  const std::string safe = headerSafe(name);
  if (safe.find_first_not_of(' ') == std::string::npos) return address;
  if (!plainAscii(safe) || safe.size() > 200) return encodedWords(safe) + " <" + address + ">";
  std::string quoted = "\"";
  for (char c : safe) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\" <" + address + ">";
}

// The Content-Disposition parameter of a file name: quoted when plain, RFC 2231 otherwise.
std::string fileNameParameter(const std::string& name) {
  bool plain = !name.empty();
  for (char c : name)
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::strchr("._-+ ", c) != nullptr);
  if (plain) return "filename=\"" + name + "\"";
  std::string out = "filename*=UTF-8''";
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::strchr("._-", c)) {
      out += c;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

std::string dateHeader() {
  const time_t now = time(nullptr);
  struct tm t{};
  localtime_r(&now, &t);
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char zone[8];
  strftime(zone, sizeof zone, "%z", &t);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d %s", kDays[t.tm_wday], t.tm_mday, kMonths[t.tm_mon],
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, zone);
  return text;
}

void writeAttachment(const std::string& path, const std::string& name, const std::string& boundary,
                     const std::function<void(std::string_view)>& sink) {
  // A log file of a customer's tree: a link planted in its place is not followed.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("Cannot attach " + path + ": " + std::strerror(errno));
  std::string part = "\n--" + boundary + "\nContent-Type: application/octet-stream\n" +
                     "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; " +
                     fileNameParameter(name) + "\n\n";
  sink(part);
  std::unique_ptr<char[]> chunk(new char[57 * 1024]);
  size_t held = 0;
  for (;;) {
    const ssize_t got = read(fd, chunk.get() + held, 57 * 1024 - held);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      close(fd);
      throw std::runtime_error("Cannot read " + path + ": " + std::strerror(error));
    }
    held += static_cast<size_t>(got);
    if (got == 0 || held == 57 * 1024) {
      part.clear();
      base64Lines(std::string_view(chunk.get(), held), part);
      sink(part);
      held = 0;
    }
    if (got == 0) break;
  }
  close(fd);
}

}  // namespace

std::vector<std::string> addressList(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at <= text.size()) {
    size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    std::string item = text.substr(at, comma - at);
    const size_t first = item.find_first_not_of(" \t");
    if (first != std::string::npos) out.push_back(item.substr(first, item.find_last_not_of(" \t") - first + 1));
    at = comma + 1;
  }
  return out;
}

void checkAddress(const std::string& address) {
  const size_t at = address.rfind('@');
  bool plain = at != std::string::npos && at > 0 && at + 1 < address.size() && address[0] != '-';
  for (char c : address)
    plain = plain && static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7f &&
            std::strchr("<>()[],;:\\\"", c) == nullptr;
  if (!plain) throw std::runtime_error("\"" + headerSafe(address) + "\" is no usable mail address");
}

void writeMessage(const OutgoingMail& mail, const std::string& boundary,
                  const std::function<void(std::string_view)>& sink) {
  std::string head = "From: " + mailbox(mail.from, mail.fromName) + "\nTo: " + mailbox(mail.to, mail.toName) + "\n";
  for (const auto* list : {&mail.cc, &mail.bcc}) {
    if (list->empty()) continue;
    std::string line = list == &mail.cc ? "Cc: " : "Bcc: ";
    for (size_t i = 0; i < list->size(); ++i) {
      checkAddress((*list)[i]);
      line += (i ? ",\n " : "") + (*list)[i];
    }
    head += line + "\n";
  }
  head += "Subject: " + headerText(mail.subject) + "\nDate: " + dateHeader() +
          "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"" + boundary +
          "\"\n\nThis is a message in MIME format.\n\n--" + boundary +
          "\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64\n\n";
  base64Lines(mail.body, head);
  sink(head);
  for (size_t i = 0; i < mail.attachments.size(); ++i)
    writeAttachment(mail.attachments[i], i < mail.attachmentNames.size() ? mail.attachmentNames[i] : "attachment",
                    boundary, sink);
  sink("\n--" + boundary + "--\n");
}

void sendThroughSendmail(const std::string& sendmail, const OutgoingMail& mail) {
  checkAddress(mail.from);
  // The boundary holds "=_", which no base64 line can.
  const std::string boundary = "=_cadro_" + std::to_string(getpid()) + "_" + std::to_string(time(nullptr));
  // A socket instead of a pipe: a sendmail that stops reading fails our write with EPIPE
  // (MSG_NOSIGNAL) instead of killing the program.
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
    throw std::runtime_error(std::string("Cannot start sendmail: ") + std::strerror(errno));
  std::vector<std::string> args = {sendmail, "-t", "-i", "-f", mail.from};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(sockets[0]);
    close(sockets[1]);
    throw std::runtime_error(std::string("Cannot start sendmail: ") + std::strerror(errno));
  }
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (dup2(sockets[1], 0) < 0 || null < 0 || dup2(null, 1) < 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(sockets[1]);
  shutdown(sockets[0], SHUT_RD);
  bool broken = false;
  std::string failure;
  try {
    writeMessage(mail, boundary, [&](std::string_view data) {
      while (!broken && !data.empty()) {
        const ssize_t sent = ::send(sockets[0], data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0) {
          broken = true;  // sendmail went away: its exit status tells
          break;
        }
        data.remove_prefix(static_cast<size_t>(sent));
      }
    });
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // A failed message is cut short: sendmail must not take it, so it is killed before it
  // sees the end of its input.
  if (!failure.empty()) kill(pid, SIGKILL);
  close(sockets[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!failure.empty()) throw std::runtime_error(failure);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) throw std::runtime_error("Cannot run " + sendmail);
  throw std::runtime_error(sendmail + " did not accept the message (" +
                           (WIFEXITED(status) ? "exit code " + std::to_string(WEXITSTATUS(status))
                                              : "signal " + std::to_string(WTERMSIG(status))) +
                           ")");
}

}  // namespace postfix
