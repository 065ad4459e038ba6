// How the entries of a domain's tree are charged: the directory table with its case rules,
// subdomain containers and roots, loose files, links planted in the tree, and roots that
// are missing or cannot be read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files/vfilename.h"
#include "platform/text/text_codec.h"
#include "testing/log_recorder.h"
#include "testing/temp_dir.h"
#include "usage/domain_directory_scan.h"
#include "usage/usage_test_util.h"

using namespace testing_support;
using namespace usage_testing;

namespace {

// A node of a domain's tree and the component it is charged to (null: not charged).
struct ChargedNode {
  Node node;
  DiskSpaceComponent component;
};

constexpr DiskSpaceComponent kHttpdocs = &DiskSpaceUsage::httpdocs;
constexpr DiskSpaceComponent kAnonftp = &DiskSpaceUsage::anonftp;
constexpr DiskSpaceComponent kLogs = &DiskSpaceUsage::logs;
constexpr DiskSpaceComponent kWebUsers = &DiskSpaceUsage::web_users;

const std::vector<ChargedNode> kDomainTree = {
    {{"httpdocs/index.html", Kind::File, 100}, kHttpdocs},
    {{"HTTPSDOCS/secure.html", Kind::File, 101}, kHttpdocs},
    {{"error_docs/404.html", Kind::File, 102}, kHttpdocs},
    {{"Anon_FTP/pub/file", Kind::File, 1000}, kAnonftp},
    {{"bin/tool", Kind::File, 1001}, kAnonftp},
    {{"conf/httpd.include", Kind::File, 10}, kLogs},
    {{"PD/protected", Kind::File, 11}, kLogs},
    {{"statistics/logs/access_log", Kind::File, 12}, kLogs},
    {{"web_users/bob/index.html", Kind::File, 5000}, kWebUsers},
    {{"private/secret", Kind::File, 200}, kHttpdocs},
    {{"loose.txt", Kind::File, 201}, kHttpdocs},
    {{"httpdocs/escape", Kind::Link, 0, "../../other.com"}, kHttpdocs},
    {{"statistics/loop", Kind::Link, 0, "."}, kLogs},
    {{"cgi-bin", Kind::Link, 0, "../../other.com/httpdocs"}, kHttpdocs},
    // Subdomain roots are charged like domain roots; the container's own files are not.
    {{"subdomains/blog/httpdocs/post.html", Kind::File, 300}, kHttpdocs},
    {{"subdomains/blog/statistics/logs/access_log", Kind::File, 13}, kLogs},
    {{"subdomains/blog/subdomains/not-a-container", Kind::File, 301}, kHttpdocs},
    {{"subdomains/Shop/bin/cart", Kind::File, 1002}, kAnonftp},
    {{"subdomains/Shop/web_users/ann/x", Kind::File, 5001}, kWebUsers},
    {{"subdomains/loose-in-container", Kind::File, 9999}, nullptr},
    {{"subdomains/planted", Kind::Link, 0, "../../other.com"}, nullptr},
};

DiskSpaceUsage expectedUsage(const std::vector<ChargedNode>& tree) {
  DiskSpaceUsage usage;
  for (const ChargedNode& c : tree)
    if (c.component) usage.*c.component += sizeOf({c.node});
  return usage;
}

std::string describe(const DiskSpaceUsage& u) {
  return "httpdocs=" + std::to_string(u.httpdocs) + " anonftp=" + std::to_string(u.anonftp) +
         " logs=" + std::to_string(u.logs) + " web_users=" + std::to_string(u.web_users);
}

class DomainDirectoryScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<Node> nodes;
    for (const ChargedNode& c : kDomainTree) nodes.push_back(c.node);
    build(vhosts() + "/example.com", nodes);
    // A neighbour that links would lead to.
    build(vhosts() + "/other.com", {{"httpdocs/big", Kind::File, 1000000}});
  }
  std::string vhosts() const { return dir_.file("vhosts"); }
  DiskSpaceUsage scan(const std::string& path, const std::string& vhostsRoot) {
    DiskSpaceUsage usage;
    scanDomainDirectory(VFileName::fromNative(path), VFileName::fromNative(vhostsRoot), usage);
    return usage;
  }

  TempDir dir_;
};

}  // namespace

TEST_F(DomainDirectoryScanTest, EntriesAreChargedByTheTableAndSubdomainsLikeDomainRoots) {
  // Trailing separators of the vhosts root do not hide a domain root or its container.
  // In a child: a scan that follows the loops would never end. Each root reports its "."
  // and ".." as skipped, and nothing is worth a warning.
  for (const std::string& root : {vhosts(), vhosts() + "//"}) {
    std::string got = inChild(
        [&] {
          LogRecorder child;
          std::string out = describe(scan(vhosts() + "/example.com", root));
          if (!child.contains(0, L"Skip .") || !child.contains(0, L"Skip ..")) out += " without Skip";
          for (const LoggedMessage& m : child.take())
            if (m.level > 0) out += " " + text::toUtf8(m.text);
          return out;
        },
        false);
    EXPECT_EQ(got, describe(expectedUsage(kDomainTree))) << root;
  }

  // The container scanned by its own path: only its subdirectories count, as roots.
  std::vector<ChargedNode> subdomains;
  for (const ChargedNode& c : kDomainTree)
    if (c.node.path.starts_with("subdomains/")) subdomains.push_back(c);
  EXPECT_EQ(describe(scan(vhosts() + "/example.com/subdomains", vhosts())), describe(expectedUsage(subdomains)));

  // The same directory outside a vhosts root is an ordinary root: "subdomains" is charged
  // to httpdocs whole, loose file and link included.
  std::vector<Node> subdomainNodes;
  for (const ChargedNode& c : subdomains) subdomainNodes.push_back(c.node);
  DiskSpaceUsage expected = expectedUsage(kDomainTree);
  const DiskSpaceUsage charged = expectedUsage(subdomains);
  for (DiskSpaceComponent c : {kHttpdocs, kAnonftp, kLogs, kWebUsers}) expected.*c -= charged.*c;
  expected.httpdocs += sizeOf(subdomainNodes);
  EXPECT_EQ(describe(scan(vhosts() + "/example.com", dir_.file("not-vhosts"))), describe(expected));
}

TEST_F(DomainDirectoryScanTest, MissingRootsAddNothingSilentlyAndUnreadableOnesAreWarned) {
  LogRecorder log;
  EXPECT_EQ(scan(vhosts() + "/missing.com", vhosts()), DiskSpaceUsage());
  EXPECT_EQ(scan(vhosts() + "/example.com/loose.txt", vhosts()), DiskSpaceUsage());
  EXPECT_TRUE(log.take().empty());

  // Without read permission (as an ordinary user: root reads everything).
  ::chmod(dir_.path().c_str(), 0755);
  ::chmod((vhosts() + "/example.com").c_str(), 0);
  ::chmod((vhosts() + "/other.com/httpdocs").c_str(), 0);
  std::string got = inChild(
      [&] {
        LogRecorder child;
        DiskSpaceUsage root = scan(vhosts() + "/example.com", vhosts());
        DiskSpaceUsage below = scan(vhosts() + "/other.com", vhosts());
        std::string out = describe(root) + "|" + describe(below);
        for (const LoggedMessage& m : child.take())
          if (m.level > 0) out += "|" + std::to_string(m.level) + " " + text::toUtf8(m.text);
        return out;
      },
      true);
  ::chmod((vhosts() + "/example.com").c_str(), 0755);
  ::chmod((vhosts() + "/other.com/httpdocs").c_str(), 0755);
  EXPECT_EQ(got, describe(DiskSpaceUsage()) + "|" + describe(DiskSpaceUsage()) + "|1 Unable to scan directory " +
                     vhosts() + "/example.com/*.* : Permission denied");
}

// A sparse file is as long as its owner says, whatever the disk holds: the sums stop at
// the largest value instead of wrapping round to a small or negative one below any limit.
TEST(DomainDirectoryScanSums, StopAtTheLargestValueInsteadOfWrapping) {
  // tmpfs takes the largest length a file may have; most disk file systems refuse it.
  char base[] = "/dev/shm/cadro-sparse-XXXXXX";
  if (!::mkdtemp(base)) GTEST_SKIP() << "no /dev/shm";
  const std::string root = base;
  const auto sparse = [](const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool made = fd >= 0 && ::ftruncate(fd, INT64_MAX) == 0;
    if (fd >= 0) ::close(fd);
    return made;
  };
  std::filesystem::create_directories(root + "/example.com/httpdocs");
  const bool made = sparse(root + "/example.com/httpdocs/a") && sparse(root + "/example.com/httpdocs/b") &&
                    sparse(root + "/example.com/loose");
  DiskSpaceUsage usage;
  if (made) scanDomainDirectory(VFileName::fromNative(root + "/example.com"), VFileName::fromNative(root), usage);
  std::filesystem::remove_all(root);
  if (!made) GTEST_SKIP() << "/dev/shm refuses files of the largest length";
  EXPECT_EQ(usage.httpdocs, INT64_MAX);
}
