#include "webstat/web_module_host.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files/vfilename.h"
#include "platform/report/log_manager.h"
#include "platform/service/product_paths.h"
#include "platform/system/fd_io.h"
#include "platform/system/system_root.h"
#include "platform/system/unique_fd.h"
#include "platform/text/text_codec.h"

namespace {

// A name of one directory entry: not empty, no separator, no NUL, not "." or "..".
bool isPlainName(std::wstring_view name) {
  return !name.empty() && name != L"." && name != L".." && name.find_first_of(std::wstring_view(L"/\0", 2)) ==
                                                               std::wstring_view::npos;
}

std::wstring errnoText(const char* what, const std::string& name, int err) {
  return text::fromAnsi(std::string(what) + " '" + name + "': " + std::strerror(err));
}

std::string randomSuffix() {
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes))) {
    const auto now = static_cast<unsigned long>(::time(nullptr)) ^ static_cast<unsigned long>(::getpid());
    for (size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = static_cast<unsigned char>(now >> (i * 5));
  }
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string s;
  for (unsigned char b : bytes) s.push_back(kAlphabet[b % (sizeof(kAlphabet) - 1)]);
  return s;
}

// Writes `content` as `name` in the directory `dirFd`: a new file of a random name, created
// exclusively, then renamed over `name` (a link standing there is replaced, not followed).
bool replaceFileAt(int dirFd, const std::string& name, std::string_view content, std::wstring& error) {
  std::string temporary;
  UniqueFd fd;
  for (int attempt = 0; attempt < 16 && !fd.isOpen(); ++attempt) {
    temporary = "." + name + "." + randomSuffix();
    fd.reset(::openat(dirFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.isOpen() && errno != EEXIST) break;
  }
  if (!fd.isOpen()) {
    error = errnoText("create", temporary, errno);
    return false;
  }
  ::fchmod(fd.get(), 0644);
  if (int err = fdio::writeAll(fd.get(), content)) {
    ::unlinkat(dirFd, temporary.c_str(), 0);
    error = errnoText("write", temporary, err);
    return false;
  }
  fd.reset();
  if (::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) != 0) {
    const int err = errno;
    ::unlinkat(dirFd, temporary.c_str(), 0);
    error = errnoText("rename", name, err);
    return false;
  }
  return true;
}

}  // namespace

WebModuleHost::WebModuleHost(VhostsRoot vhostsRoot) : vhostsRoot_(std::move(vhostsRoot)) {}

void WebModuleHost::report(int level, std::wstring_view message) noexcept {
  LogManager::instance().report(level, message);
}

bool WebModuleHost::writeStatisticsFile(std::wstring_view domain, std::wstring_view fileName,
                                        std::string_view content, std::wstring& error) noexcept {
  try {
    if (!isPlainName(domain) || !isPlainName(fileName)) {
      error = L"Not a plain name: '" + std::wstring(domain) + L"', '" + std::wstring(fileName) + L"'";
      return false;
    }
    const std::string root = VFileName::toNative(vhostsRoot_ ? vhostsRoot_() : getProductPath(L"HTTPD_VHOSTS_D"));
    // The root is the administrator's; from there down the tree is the domain owner's.
    UniqueFd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd.isOpen()) {
      error = errnoText("open", root, errno);
      return false;
    }
    const std::string domainName = VFileName::toNative(domain);
    UniqueFd domainFd(::openat(rootFd.get(), domainName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!domainFd.isOpen()) {
      error = errnoText("open", root + "/" + domainName, errno);
      return false;
    }
    UniqueFd statisticsFd(::openat(domainFd.get(), "statistics", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!statisticsFd.isOpen()) {
      error = errnoText("open", root + "/" + domainName + "/statistics", errno);
      return false;
    }
    return replaceFileAt(statisticsFd.get(), VFileName::toNative(fileName), content, error);
  } catch (const vexception& e) {
    error = e.message();
  } catch (const std::exception& e) {
    error = text::fromAnsi(e.what());
  } catch (...) {
    error = L"Unexpected error";
  }
  return false;
}

std::wstring webModulesConfigurationPath() {
  return VFileName::combine(VFileName::directory(VFileName::fromNative(process::executablePath())),
                            L"statistics.modules");
}
