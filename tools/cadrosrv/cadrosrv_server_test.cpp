#include "cadrosrv/cadrosrv_server.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/service/cadrosrv_protocol.h"
#include "testing/scripted_service.h"
#include "testing/service_process.h"
#include "testing/temp_dir.h"

using namespace cadrosrv;
using testing_support::frame;
using testing_support::readFrame;
using testing_support::writeBytes;

namespace {

int connectTo(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(s);
    return -1;
  }
  timeval tv{5, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return s;
}

std::string getStringRequest(const std::wstring& name) {
  vserializer::writer w;
  w.writeGuid(kGetString);
  w.writeString(name);
  return w.bytes();
}

std::wstring replyText(const std::optional<std::string>& reply) {
  if (!reply) return L"(closed)";
  try {
    return vserializer::reader(*reply).readString();
  } catch (const vexception& e) {
    return L"error: " + e.message();
  }
}

// True when the peer closes the connection within `ms`.
bool closedWithin(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, ms) != 1) return false;
  char c;
  return ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

class ServiceServer : public ::testing::Test {
 protected:
  void start(Server::Options options = {}) {
    server_.emplace(Listener::bind(socket_), store_, options);
    thread_ = std::thread([this] { server_->run(); });
  }
  void TearDown() override {
    if (server_) {
      server_->requestStop();
      thread_.join();
    }
  }

  testing_support::TempDir dir_;
  const std::string socket_ = dir_.file("run/pipe/cdrpipe");
  MemoryStore store_{"[settings]\nA = 1\nB = 2\n"};
  std::optional<Server> server_;
  std::thread thread_;
};

}  // namespace

TEST_F(ServiceServer, SocketIsOwnerOnlyAndRemovedWithTheServer) {
  start();
  struct stat st;
  ASSERT_EQ(::lstat(socket_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  server_->requestStop();
  thread_.join();
  server_.reset();
  EXPECT_FALSE(testing_support::fileExists(socket_));
}

TEST_F(ServiceServer, BindRefusesARunningServiceAndReplacesAStaleSocket) {
  start();
  EXPECT_THROW(Listener::bind(socket_), vexception);
  EXPECT_TRUE(testing_support::socketAccepts(socket_));

  // Not a socket: left alone.
  const std::string file = dir_.file("plain");
  testing_support::writeFile(file, "keep");
  EXPECT_THROW(Listener::bind(file), vosexception);
  EXPECT_EQ(testing_support::readFile(file), "keep");

  // A socket nobody listens on any more is what a killed service leaves.
  const std::string stale = dir_.file("stale");
  {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, stale.c_str(), stale.size() + 1);
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(s);
  }
  EXPECT_NO_THROW(Listener::bind(stale));
}

TEST_F(ServiceServer, ASilentClientDoesNotHoldUpOthersAndIdlesOut) {
  start({std::chrono::milliseconds(300), 64});
  int silent = connectTo(socket_);
  ASSERT_GE(silent, 0);
  int partial = connectTo(socket_);
  writeBytes(partial, frame(getStringRequest(L"A")).substr(0, 9));

  int active = connectTo(socket_);
  writeBytes(active, frame(getStringRequest(L"A")));
  EXPECT_EQ(replyText(readFrame(active)), L"1");

  EXPECT_TRUE(closedWithin(silent, 3000));
  EXPECT_TRUE(closedWithin(partial, 3000));
  for (int fd : {silent, partial, active}) ::close(fd);
}

TEST_F(ServiceServer, PipelinedRequestsAreAnsweredInOrder) {
  start();
  int fd = connectTo(socket_);
  std::string batch;
  for (int i = 0; i < 50; ++i) batch += frame(getStringRequest(i % 2 ? L"B" : L"A"));
  writeBytes(fd, batch);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(replyText(readFrame(fd)), i % 2 ? L"2" : L"1") << i;
  ::close(fd);
}

TEST_F(ServiceServer, SurvivesHostileClients) {
  start();
  // Garbage inside a frame is answered with an error and the connection stays usable.
  int fd = connectTo(socket_);
  writeBytes(fd, frame(std::string("\xFF\xFF\xFF\xFF\x00garbage", 12)));
  EXPECT_EQ(replyText(readFrame(fd)).rfind(L"error: ", 0), 0u);
  writeBytes(fd, frame(getStringRequest(L"B")));
  EXPECT_EQ(replyText(readFrame(fd)), L"2");
  ::close(fd);

  // A frame announcing more than any request may hold is refused and the connection closed.
  fd = connectTo(socket_);
  writeBytes(fd, frameHeader(0xFFFFFFF0u) + "xyz");
  EXPECT_EQ(replyText(readFrame(fd)), L"error: Request of 4294967280 bytes exceeds the limit of 1048576 bytes");
  EXPECT_TRUE(closedWithin(fd, 3000));
  ::close(fd);

  // Clients that vanish mid-request or without reading their reply.
  for (int i = 0; i < 20; ++i) {
    fd = connectTo(socket_);
    writeBytes(fd, i % 2 ? frame(getStringRequest(L"A")) : frame(getStringRequest(L"A")).substr(0, 7));
    ::close(fd);
  }
  fd = connectTo(socket_);
  writeBytes(fd, frame(getStringRequest(L"A")));
  EXPECT_EQ(replyText(readFrame(fd)), L"1");
  ::close(fd);
}
