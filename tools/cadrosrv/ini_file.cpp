#include "cadrosrv/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/text/text_codec.h"
#include "platform/report/vexception.h"

namespace cadrosrv {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// A configuration holds a few hundred lines; anything this large is not one.
constexpr size_t kMaxFileBytes = 16u << 20;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

struct ParsedLine {
  enum Kind { Other, Section, Entry } kind = Other;
  std::string_view name;
  size_t valueBegin = 0;  // offsets into the raw line
  size_t valueEnd = 0;
};

ParsedLine classify(std::string_view raw, bool firstLine) {
  ParsedLine out;
  size_t begin = firstLine && raw.starts_with(kBom) ? kBom.size() : 0;
  size_t end = raw.size();
  if (end > begin && raw[end - 1] == '\r') --end;
  std::string_view body = raw.substr(begin, end - begin);
  std::string_view t = trim(body);
  if (t.empty() || t.front() == ';' || t.front() == '#') return out;
  if (t.front() == '[') {
    if (t.back() != ']' || t.size() < 2) return out;
    out.kind = ParsedLine::Section;
    out.name = trim(t.substr(1, t.size() - 2));
    return out;
  }
  size_t eq = body.find('=');
  if (eq == std::string_view::npos) return out;
  std::string_view name = trim(body.substr(0, eq));
  if (name.empty()) return out;
  size_t vb = begin + eq + 1;
  while (vb < end && isBlank(raw[vb])) ++vb;
  size_t ve = end;
  while (ve > vb && isBlank(raw[ve - 1])) --ve;
  out.kind = ParsedLine::Entry;
  out.name = name;
  out.valueBegin = vb;
  out.valueEnd = ve;
  return out;
}

std::string_view withoutCr(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool hasLineBreakOrNul(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; }

void checkRepresentable(std::string_view section, std::string_view name, std::string_view value) {
  auto fail = [](const char* what) { throw ArgumentException(text::fromUtf8(what)); };
  if (section.empty() || hasLineBreakOrNul(section) || section.find(']') != section.npos || trim(section) != section)
    fail("Section name cannot be stored in the configuration");
  if (name.empty() || hasLineBreakOrNul(name) || name.find('=') != name.npos || trim(name) != name ||
      name.front() == '[' || name.front() == ';' || name.front() == '#')
    fail("Name cannot be stored in the configuration");
  if (hasLineBreakOrNul(value) || trim(value) != value) fail("Value cannot be stored in the configuration");
}

}  // namespace

IniFile IniFile::parse(std::string_view text) {
  IniFile f;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      f.lines_.emplace_back(text.substr(pos));
      break;
    }
    f.lines_.emplace_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  f.finalNewline_ = !text.empty() && text.back() == '\n';
  for (const std::string& l : f.lines_)
    if (!l.empty() && l.back() == '\r') {
      f.crlf_ = true;
      break;
    }
  return f;
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view name) const {
  bool inSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    ParsedLine p = classify(lines_[i], i == 0);
    if (p.kind == ParsedLine::Section) {
      inSection = p.name == section;
    } else if (p.kind == ParsedLine::Entry && inSection && p.name == name) {
      return lines_[i].substr(p.valueBegin, p.valueEnd - p.valueBegin);
    }
  }
  return std::nullopt;
}

void IniFile::set(std::string_view section, std::string_view name, std::string_view value) {
  checkRepresentable(section, name, value);
  bool inSection = false;
  size_t insertAt = std::string::npos;  // after the last entry (or header) of the section's last block
  for (size_t i = 0; i < lines_.size(); ++i) {
    ParsedLine p = classify(lines_[i], i == 0);
    if (p.kind == ParsedLine::Section) {
      inSection = p.name == section;
      if (inSection) insertAt = i + 1;
    } else if (p.kind == ParsedLine::Entry && inSection) {
      if (p.name == name) {
        std::string& line = lines_[i];
        // "name =" gets its blank before the new value.
        bool bare = !value.empty() && p.valueBegin == p.valueEnd && p.valueBegin > 0 && line[p.valueBegin - 1] == '=';
        line.replace(p.valueBegin, p.valueEnd - p.valueBegin, bare ? " " + std::string(value) : std::string(value));
        return;
      }
      insertAt = i + 1;
    }
  }

  const std::string eol = crlf_ ? "\r" : "";
  std::string entry = std::string(name) + " = " + std::string(value) + eol;
  if (insertAt != std::string::npos) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(entry));
  } else {
    if (!lines_.empty() && !trim(withoutCr(lines_.back())).empty()) lines_.push_back(eol);
    lines_.push_back("[" + std::string(section) + "]" + eol);
    lines_.push_back(std::move(entry));
  }
  if (insertAt == std::string::npos || insertAt == lines_.size() - 1) finalNewline_ = true;
}

std::string IniFile::text() const {
  std::string out;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i) out += '\n';
    out += lines_[i];
  }
  if (finalNewline_ && !lines_.empty()) out += '\n';
  return out;
}

IniFile loadIniFile(const std::string& path) {
  std::wstring op = L"read configuration '" + text::fromUtf8(path) + L"'";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) raiseErrno(op, errno, VCTX(L"", "cadrosrv::loadIniFile"));
  std::string content;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      raiseErrno(op, err, VCTX(L"", "cadrosrv::loadIniFile"));
    }
    if (n == 0) break;
    content.append(buf, static_cast<size_t>(n));
    if (content.size() > kMaxFileBytes) {
      ::close(fd);
      raiseErrno(op, EFBIG, VCTX(L"", "cadrosrv::loadIniFile"));
    }
  }
  ::close(fd);
  return IniFile::parse(content);
}

void saveIniFile(const std::string& path, const IniFile& file) {
  const ContextRecord ctx = VCTX(L"", "cadrosrv::saveIniFile");
  std::string target = path;
  if (char* resolved = ::realpath(path.c_str(), nullptr)) {
    target = resolved;
    std::free(resolved);
  }
  std::wstring op = L"write configuration '" + text::fromUtf8(target) + L"'";
  mode_t mode = 0600;
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;

  size_t slash = target.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  std::string temp = target + ".tmp.XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) raiseErrno(op, errno, ctx);

  auto failWith = [&](int err) {
    ::close(fd);
    ::unlink(temp.c_str());
    raiseErrno(op, err, ctx);
  };
  if (::fchmod(fd, mode) != 0) failWith(errno);
  std::string content = file.text();
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failWith(errno);
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) failWith(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    raiseErrno(op, err, ctx);
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    raiseErrno(op, err, ctx);
  }
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

}  // namespace cadrosrv
