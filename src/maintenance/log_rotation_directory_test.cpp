// Whole log directories rotated under a domain's policy from a Jet database: what is
// zipped, kept, mailed and removed, in which order, and what a directory's owner may plant.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "maintenance/log_rotation.h"
#include "maintenance/maintenance_test_database.h"
#include "platform/text/text_codec.h"
#include "testing/log_recorder.h"
#include "testing/temp_dir.h"
#include "traffic/mail_test_util.h"

using namespace testing_support;
using maintenance_test::MaintenanceDatabase;
namespace fs = std::filesystem;

namespace {

// A mail provider that lets `swap` run first when it is asked to send, as a domain's owner
// racing the rotation would, and then reads what it was given to attach.
class SwappingProvider final : public mailmng::imailmngprovider {
 public:
  struct Attachment {
    std::string path, content;
  };
  SwappingProvider(std::function<void()> swap, std::vector<Attachment>& mailed)
      : swap_(std::move(swap)), mailed_(mailed) {}
  uint32_t interfaceVersion() const noexcept override { return mailmng::kInterfaceVersion; }
  bool supportsFeature(int32_t) override { return false; }
  void getMailTraffic(const mailmng::Moment&, const mailmng::Moment&, mailmng::MailDomainMap&, mailmng::FileList&,
                      mailmng::SentMessagesMap&) override {}
  mailmng::imailbox* getMailbox(const std::wstring&, const std::wstring&) override { return nullptr; }
  void send(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&,
            const std::wstring&, const mailmng::FileList& attachments, const std::wstring&,
            const std::wstring&) override {
    swap_();
    for (const std::wstring& a : attachments) mailed_.push_back({text::toUtf8(a), readFile(text::toUtf8(a))});
  }
  void release() noexcept override { delete this; }

 private:
  ~SwappingProvider() = default;
  std::function<void()> swap_;
  std::vector<Attachment>& mailed_;
};

struct File {
  std::string name;
  int64_t ageSeconds;  // last written this long ago
  size_t size = 10;
};

class LogDirectoryRotation : public MaintenanceDatabase<JetProviderEngine> {
 protected:
  void SetUp() override {
    MaintenanceDatabase::SetUp();
    db().setMiscParam(L"admin_email", L"admin@host.example");
    db().setMiscParam(L"admin_pname", L"Admin");
    run(L"INSERT INTO dom_param (dom_id, param, val) VALUES (1, 'logrotation_id', '4')");
  }
  void policy(const std::wstring& max, const std::wstring& compress, const std::wstring& periodType,
              const std::wstring& period, const std::wstring& email = L"", const std::wstring& on = L"true") {
    run(L"DELETE FROM log_rotation");
    run(L"INSERT INTO log_rotation (id, period_type, period, max_number_of_logfiles, compress_enable, email, "
        L"turned_on) VALUES (4, '" +
        periodType + L"', '" + period + L"', " + max + L", '" + compress + L"', '" + email + L"', '" + on + L"')");
  }
  void lay(const std::vector<File>& files) {
    fs::remove_all(logs_.path());
    fs::create_directories(logs_.path());
    const int64_t now = VDateTime::nowUtc().toUnixTime();
    for (const File& f : files) {
      writeFile(logs_.file(f.name), std::string(f.size, 'x'));
      const timespec times[2] = {{now - f.ageSeconds, 0}, {now - f.ageSeconds, 0}};
      ::utimensat(AT_FDCWD, logs_.file(f.name).c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
  }
  // The logs directory stands right below the hosts root.
  void rotate(const std::wstring& domain = L"a.com") {
    logrotate::start(db(), {{L"a.com", L"1"}}, domain, {text::fromUtf8(logs_.path()), L"/nonexistent/W3SVC9"},
                     mail_testing::MailProviderScript::source(),
                     [this] { return text::fromUtf8(fs::path(logs_.path()).parent_path().string()); });
  }
  void rotateIn(const std::string& root, const std::string& directory, const mailmng::ProviderSource& source) {
    logrotate::start(db(), {{L"a.com", L"1"}}, L"a.com", {text::fromUtf8(directory)}, source,
                     [&root] { return text::fromUtf8(root); });
  }
  // The names left, in name order.
  std::string left() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(logs_.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
  }
  TempDir logs_;
};

constexpr int64_t kDay = 86400;

TEST_F(LogDirectoryRotation, FinishedLogsAreZippedAndTheOldestBeyondTheLimitRemoved) {
  const struct {
    const char* name;
    const wchar_t *max, *compress, *periodType, *period, *on;
    std::vector<File> files;
    std::string left;
  } cases[] = {
      {"three finished logs become archives, the current one stays",
       L"10",
       L"true",
       L"by_time",
       L"daily",
       L"TRUE",
       {{"a.log", 3 * kDay}, {"b.log", 2 * kDay}, {"c.log", kDay + 60}, {"d.log", 60}},
       "a.log.zip b.log.zip c.log.zip d.log"},
      {"by size: a newest log at the threshold stays",
       L"10",
       L"true",
       L"by_size",
       L"1000",
       L"true",
       {{"old.log", 2 * kDay}, {"new.log", 60, 1000}},
       "new.log old.log.zip"},
      {"by size: one byte above it is finished",
       L"10",
       L"true",
       L"by_size",
       L"1000",
       L"true",
       {{"old.log", 2 * kDay}, {"new.log", 60, 1001}},
       "new.log.zip old.log.zip"},
      {"compression off, only archives: the oldest beyond the limit go",
       L"2",
       L"false",
       L"by_time",
       L"daily",
       L"true",
       {{"x.zip", 3 * kDay}, {"y.zip", 2 * kDay}, {"z.zip", kDay}},
       "y.zip z.zip"},
      {"plain files count before archives, newest first",
       L"2",
       L"false",
       L"by_time",
       L"never",
       L"true",
       {{"a.log", 3 * kDay}, {"b.log", kDay}, {"new.zip", 60}},
       "a.log b.log"},
      {"a limit of 0 removes every candidate but the current log",
       L"0",
       L"false",
       L"by_time",
       L"daily",
       L"true",
       {{"a.log", 2 * kDay}, {"b.zip", kDay}, {"c.log", 60}},
       "c.log"},
      {"a limit of 0 with compression removes the new archives too",
       L"0",
       L"true",
       L"by_time",
       L"daily",
       L"true",
       {{"a.log", 2 * kDay}, {"c.log", 60}},
       "c.log"},
      {"a policy not beginning with true is off",
       L"0",
       L"true",
       L"by_time",
       L"daily",
       L"yes",
       {{"a.log", 2 * kDay}, {"c.log", 60}},
       "a.log c.log"},
  };
  for (const auto& c : cases) {
    policy(c.max, c.compress, c.periodType, c.period, L"", c.on);
    lay(c.files);
    rotate();
    EXPECT_EQ(left(), c.left) << c.name;
  }
}

TEST_F(LogDirectoryRotation, UnknownDomainsAndDomainsWithoutPolicyAreLeftAlone) {
  policy(L"0", L"true", L"by_time", L"daily");
  lay({{"a.log", 2 * kDay}});
  LogRecorder log;
  rotate(L"b.com");
  EXPECT_TRUE(log.contains(0, L"Domain b.com does not exist"));
  run(L"DELETE FROM dom_param");
  rotate();
  EXPECT_TRUE(log.contains(0, L"Rotating log for domain a.com..."));
  EXPECT_EQ(left(), "a.log");
}

TEST_F(LogDirectoryRotation, RemovedLogsAreMailedFirstAndKeptWhenTheMailFails) {
  policy(L"1", L"false", L"by_time", L"never", L"owner@a.com");
  lay({{"a.log", 2 * kDay}, {"b.log", kDay}});
  mail_testing::MailProviderScript script;
  rotate();
  EXPECT_EQ(left(), "b.log");
  const std::vector<std::string> calls = script.takeCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], "instance");
  EXPECT_EQ(calls[2], "release");
  // The attachment is a private copy under the log's own name, gone once the mail is sent.
  const std::string sent = "send admin@host.example|Admin|owner@a.com||Domain a.com log a.log||";
  ASSERT_EQ(calls[1].substr(0, sent.size()), sent);
  const fs::path attached = calls[1].substr(sent.size(), calls[1].size() - sent.size() - 2);
  EXPECT_EQ(attached.filename(), "a.log");
  EXPECT_FALSE(fs::exists(attached.parent_path())) << attached;

  script.write("throw send\n");
  lay({{"a.log", 2 * kDay}, {"b.log", kDay}, {"c.log", 60}});
  LogRecorder log;
  rotate();
  EXPECT_EQ(left(), "a.log b.log c.log");  // the failure skips the rest of the directory
  const auto reports = log.take();
  auto failed = std::find_if(reports.begin(), reports.end(), [](const LoggedMessage& m) {
    return m.level == 3 && m.text == L"Send log email to a.com";
  });
  ASSERT_NE(failed, reports.end());
  EXPECT_EQ(failed->contexts.back(),
            L"Process domain a.com log " + text::fromUtf8(fs::path(logs_.path()).filename().string()));

  // Without a recipient the provider is not needed.
  policy(L"1", L"false", L"by_time", L"never");
  script.takeCalls();
  rotate();
  EXPECT_EQ(left(), "c.log");
  EXPECT_TRUE(script.takeCalls().empty());
}

TEST_F(LogDirectoryRotation, WhatTheOwnerPlantsIsNeitherReadNorRemoved) {
  policy(L"0", L"true", L"by_time", L"daily", L"owner@a.com");
  mail_testing::MailProviderScript script;
  TempDir outside;
  writeFile(outside.file("secret.log"), "secret");
  writeFile(outside.file("other.zip"), "zip");
  lay({{"a.log", 2 * kDay}, {"current.log", 60}});
  const int64_t old = VDateTime::nowUtc().toUnixTime() - 3 * kDay;
  const timespec times[2] = {{old, 0}, {old, 0}};
  ::utimensat(AT_FDCWD, outside.file("secret.log").c_str(), times, 0);
  fs::create_symlink(outside.file("secret.log"), logs_.file("link.log"));
  fs::create_symlink(outside.file("other.zip"), logs_.file("link.zip"));
  fs::create_hard_link(outside.file("secret.log"), logs_.file("hard.log"));
  fs::create_directories(logs_.file("sub.log"));
  ASSERT_EQ(::mkfifo(logs_.file("pipe.log").c_str(), 0644), 0);
  rotate();
  EXPECT_EQ(left(), "current.log hard.log link.log link.zip pipe.log sub.log");
  EXPECT_EQ(readFile(outside.file("secret.log")), "secret");
  EXPECT_EQ(readFile(outside.file("other.zip")), "zip");
  for (const std::string& call : script.takeCalls()) EXPECT_EQ(call.find("secret"), std::string::npos) << call;
}

// A domain's tree below the hosts root, hosts/a.com/statistics/logs with one finished log,
// and a directory outside it, outside/logs, whose log an owner would like removed.
struct OwnerTree {
  OwnerTree() {
    fs::create_directories(logs);
    fs::create_directories(outside.file("logs"));
    writeFile(logs + "/a.log", "log");
    writeFile(outside.file("logs/a.log"), "victim");
    const int64_t old = VDateTime::nowUtc().toUnixTime() - 3 * kDay;
    const timespec times[2] = {{old, 0}, {old, 0}};
    for (const std::string& f : {logs + "/a.log", outside.file("logs/a.log")})
      ::utimensat(AT_FDCWD, f.c_str(), times, 0);
  }
  std::string outsideLeft() const {
    std::string out;
    for (const auto& e : fs::directory_iterator(outside.file("logs"))) out += e.path().filename().string() + " ";
    return out + readFile(outside.file("logs/a.log"));
  }
  TempDir hosts, outside;
  const std::string statistics = hosts.file("a.com/statistics");
  const std::string logs = statistics + "/logs";
};

TEST_F(LogDirectoryRotation, ALinkOnTheWayBelowTheHostsRootCountsAsAMissingDirectory) {
  policy(L"0", L"true", L"by_time", L"daily");
  const struct {
    const char* name;
    std::function<void(const OwnerTree&)> plant;
    bool removed;  // the domain's own log
  } cases[] = {
      {"no link: the log is zipped and removed", [](const OwnerTree&) {}, true},
      {"logs is a link",
       [](const OwnerTree& t) {
         fs::remove_all(t.logs);
         fs::create_directory_symlink(t.outside.file("logs"), t.logs);
       },
       false},
      {"statistics is a link",
       [](const OwnerTree& t) {
         fs::remove_all(t.statistics);
         fs::create_directory_symlink(t.outside.path(), t.statistics);
       },
       false},
  };
  for (const auto& c : cases) {
    const OwnerTree tree;
    c.plant(tree);
    rotateIn(tree.hosts.path() + "/", tree.logs, mail_testing::MailProviderScript::source());
    EXPECT_EQ(tree.outsideLeft(), "a.log victim") << c.name;
    EXPECT_EQ(fs::exists(tree.hosts.file("a.com/statistics/logs/a.log")), !c.removed) << c.name;
  }
}

TEST_F(LogDirectoryRotation, ALogSwappedWhileItIsMailedIsMailedAsListedAndNothingOutsideIsRemoved) {
  policy(L"0", L"false", L"by_time", L"never", L"owner@a.com");
  const struct {
    const char* name;
    std::function<void(const OwnerTree&)> swap;
    std::string movedLeft;  // what is left where the listed log went
  } cases[] = {
      {"the name becomes a link to a file outside",
       [](const OwnerTree& t) {
         fs::rename(t.logs + "/a.log", t.statistics + "/a.log");
         fs::create_symlink(t.outside.file("logs/a.log"), t.logs + "/a.log");
       },
       "log"},
      {"the directory becomes a link to one outside",
       [](const OwnerTree& t) {
         fs::rename(t.logs, t.statistics + "/old");
         fs::create_directory_symlink(t.outside.file("logs"), t.logs);
       },
       "removed"},
  };
  for (const auto& c : cases) {
    const OwnerTree tree;
    std::vector<SwappingProvider::Attachment> mailed;
    rotateIn(tree.hosts.path(), tree.logs, [&] {
      return mailmng::ProviderHandle(new SwappingProvider([&] { c.swap(tree); }, mailed));
    });
    ASSERT_EQ(mailed.size(), 1u) << c.name;
    EXPECT_EQ(mailed[0].content, "log") << c.name;
    EXPECT_EQ(fs::path(mailed[0].path).filename(), "a.log") << c.name;
    EXPECT_FALSE(fs::exists(mailed[0].path)) << c.name;
    EXPECT_EQ(tree.outsideLeft(), "a.log victim") << c.name;
    const std::string moved =
        fs::exists(tree.statistics + "/a.log") ? tree.statistics + "/a.log" : tree.statistics + "/old/a.log";
    EXPECT_EQ(fs::exists(moved) ? readFile(moved) : "removed", c.movedLeft) << c.name;
  }
}

TEST_F(LogDirectoryRotation, ALogTheServerHoldsOpenIsNeitherZippedNorRemoved) {
  policy(L"0", L"true", L"by_size", L"1000");
  lay({{"busy.log", 60, 1001}});
  int hold[2];
  ASSERT_EQ(::pipe(hold), 0);
  const int fd = ::open(logs_.file("busy.log").c_str(), O_WRONLY | O_APPEND);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // the server: holds the log open until told to stop
    char c;
    ::close(hold[1]);
    _exit(::read(hold[0], &c, 1) < 0 ? 1 : 0);
  }
  ::close(hold[0]);
  ::close(fd);  // the child keeps its own copy
  rotate();
  EXPECT_EQ(left(), "busy.log");
  ::close(hold[1]);
  ::waitpid(child, nullptr, 0);
  rotate();
  EXPECT_EQ(left(), "");
}

}  // namespace
