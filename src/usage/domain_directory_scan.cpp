#include "usage/domain_directory_scan.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/files/vfilename.h"
#include "platform/report/log_manager.h"
#include "platform/system/unique_fd.h"
#include "platform/text/text_codec.h"
#include "usage/directory_walk.h"
#include "usage/saturated_add.h"

namespace {

constexpr const char* kSubdomains = "subdomains";

constexpr DomainDirectoryRow kDomainDirectoryTable[] = {
    {"anon_ftp", &DiskSpaceUsage::anonftp},   {"bin", &DiskSpaceUsage::anonftp},
    {"conf", &DiskSpaceUsage::logs},          {"error_docs", &DiskSpaceUsage::httpdocs},
    {"httpdocs", &DiskSpaceUsage::httpdocs},  {"httpsdocs", &DiskSpaceUsage::httpdocs},
    {"pd", &DiskSpaceUsage::logs},            {"statistics", &DiskSpaceUsage::logs},
    {"web_users", &DiskSpaceUsage::web_users}, {".", nullptr},
    {"..", nullptr},
};

bool asciiEqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool isDotOrDotDot(std::string_view name) { return name == "." || name == ".."; }

class DomainDirectoryScan {
 public:
  explicit DomainDirectoryScan(DiskSpaceUsage& record) : record_(record) {}

  // Opens the directory `name` below `parentFd` (following a link only when `follow`).
  // A missing directory, or one that is no directory, gives a closed descriptor silently;
  // any other failure is warned about with the listing pattern of `path`.
  UniqueFd open(int parentFd, const std::string& name, bool follow, const std::wstring& path) {
    int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0 && errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
      vreport(1, L"Unable to scan directory %s : %s", VFileName::combine(path, L"*.*"),
              systemMessage(winErrorFromErrno(errno)));
    return UniqueFd(fd);
  }

  void scanRoot(int fd, const std::wstring& path, bool domainRoot) {
    dirwalk::forEachEntry(fd, [&](const char* name, unsigned char type) {
      const DomainDirectoryRow* row = findDomainDirectoryRow(name);
      if (row && !row->component) {
        vreport(0, L"Skip %s", VFileName::fromNative(name));
        return;
      }
      if (domainRoot && asciiEqualsNoCase(name, kSubdomains)) {
        const std::wstring container = VFileName::combine(path, VFileName::fromNative(name));
        if (UniqueFd sub = open(fd, name, false, container); sub.isOpen()) scanContainer(sub.get(), container);
        return;
      }
      dirwalk::Entry entry = dirwalk::examine(fd, name, type);
      if (entry.kind == dirwalk::Entry::Gone) return;
      const int64_t size =
          entry.kind == dirwalk::Entry::Directory ? dirwalk::treeSize(fd, name, false).value_or(0) : entry.size;
      addSaturated(record_.*(row ? row->component : &DiskSpaceUsage::httpdocs), size);
    });
  }

  void scanContainer(int fd, const std::wstring& path) {
    dirwalk::forEachEntry(fd, [&](const char* name, unsigned char type) {
      if (isDotOrDotDot(name) || dirwalk::examine(fd, name, type).kind != dirwalk::Entry::Directory) return;
      const std::wstring subdomain = VFileName::combine(path, VFileName::fromNative(name));
      if (UniqueFd sub = open(fd, name, false, subdomain); sub.isOpen()) scanRoot(sub.get(), subdomain, false);
    });
  }

 private:
  DiskSpaceUsage& record_;
};

}  // namespace

const DomainDirectoryRow* findDomainDirectoryRow(std::string_view name) {
  for (const DomainDirectoryRow& row : kDomainDirectoryTable)
    if (asciiEqualsNoCase(name, row.name)) return &row;
  return nullptr;
}

void scanDomainDirectory(const std::wstring& path, const std::wstring& vhostsRoot, DiskSpaceUsage& record) {
  const std::wstring vhosts = VFileName::withoutTrailingSeparators(vhostsRoot);
  const std::wstring parent = VFileName::directory(path);
  const bool container = text::equalsNoCase(VFileName::fileName(path), L"subdomains") &&
                         text::equalsNoCase(VFileName::directory(parent), vhosts);
  DomainDirectoryScan scan(record);
  UniqueFd fd = scan.open(AT_FDCWD, VFileName::toNative(path), true, path);
  if (!fd.isOpen()) return;
  if (container)
    scan.scanContainer(fd.get(), path);
  else
    scan.scanRoot(fd.get(), path, text::equalsNoCase(parent, vhosts));
}
