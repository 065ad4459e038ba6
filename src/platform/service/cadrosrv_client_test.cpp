#include "platform/service/cadrosrv_client.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/service/cadrosrv_protocol.h"
#include "platform/report/log_manager.h"
#include "platform/service/pipe_channel.h"
#include "platform/registry/registry.h"
#include "testing/scripted_service.h"
#include "testing/temp_dir.h"

using testing_support::frame;
using testing_support::readFrame;
using testing_support::ScriptedService;
using testing_support::writeBytes;

namespace {

std::string le32(uint32_t v) { return cadrosrv::frameHeader(v); }

std::string textReply(const std::wstring& value) {
  vserializer::writer w;
  w.writeString(value);
  return w.bytes();
}

// The name asked for by a getString request.
std::wstring askedName(const std::string& request) {
  vserializer::reader r(request);
  r.readGuid();
  return r.readString();
}

// Answers every getString request with the name asked for.
void echoNames(int fd, int) {
  while (auto request = readFrame(fd)) writeBytes(fd, frame(textReply(askedName(*request))));
}

class RecordingListener : public LogListener {
 public:
  void onMessage(int level, std::wstring_view message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::to_wstring(level) + L":" + std::wstring(message));
  }
  void onException(int, const vexception&) override {}
  std::vector<std::wstring> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(messages_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::wstring> messages_;
};

RecordingListener& logRecorder() {
  static std::shared_ptr<RecordingListener> listener = [] {
    auto l = std::make_shared<RecordingListener>();
    LogManager::instance().addListener(l);
    return l;
  }();
  return *listener;
}

class ServiceClient : public ::testing::Test {
 protected:
  void SetUp() override {
    CadroSrvClient::resetInstance();
    vpipechannel::resetConnectAttempts();
    logRecorder().take();
  }
  void TearDown() override { CadroSrvClient::resetInstance(); }

  // The failure of `body` as message and detailed text.
  template <typename F>
  static std::pair<std::wstring, std::wstring> failureOf(F&& body) {
    try {
      body();
    } catch (const vexception& e) {
      return {e.message(), e.detailedText()};
    }
    return {L"(no failure)", L""};
  }

  testing_support::ScopedSystemRoot root_;
  const std::string socket_ = cadrosrv::defaultSocketPath();
};

}  // namespace

TEST_F(ServiceClient, RequestsHaveTheirWireLayout) {
  std::vector<std::string> requests;
  std::mutex m;
  ScriptedService service(socket_, [&](int fd, int) {
    while (auto request = readFrame(fd)) {
      {
        std::lock_guard<std::mutex> lock(m);
        requests.push_back(*request);
      }
      writeBytes(fd, frame(vserializer::reader(*request).readGuid() == cadrosrv::kSetPassword ? ""
                                                                                             : textReply(L"v")));
    }
  });
  CadroSrvClient& client = CadroSrvClient::getInstance();
  EXPECT_EQ(client.getString(L"AB"), L"v");
  EXPECT_EQ(client.getPassword(L"pwd"), L"v");
  client.setPassword(L"pwd", L"x");
  EXPECT_EQ(client.componentInfo(L"perl", 2), L"v");

  auto guidBlock = [](const vserializer::guid& g) {
    auto b = g.bytes();
    return le32(16) + std::string(reinterpret_cast<const char*>(b.data()), 16);
  };
  std::lock_guard<std::mutex> lock(m);
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0], guidBlock(cadrosrv::kGetString) + le32(5) + std::string("\x02" "A\0B\0", 5));
  EXPECT_EQ(requests[1], guidBlock(cadrosrv::kGetPassword) + textReply(L"pwd"));
  EXPECT_EQ(requests[2], guidBlock(cadrosrv::kSetPassword) + textReply(L"pwd") + textReply(L"x"));
  EXPECT_EQ(requests[3], guidBlock(cadrosrv::kComponentInfo) + textReply(L"perl") + le32(4) +
                             std::string("\x02\0\0\0", 4));
  EXPECT_EQ(service.connections(), 1) << "one connection serves every request";
}

TEST_F(ServiceClient, MalformedRepliesFailWithTheirErrorAndTheClientGoesOn) {
  const std::string marker = le32(vserializer::kErrorMarker);
  struct Case {
    const char* what;
    std::string reply;  // the whole frame as sent
    std::wstring expected;
  };
  const Case cases[] = {
      {"error with text", frame(marker + textReply(L"Setting X is not defined")), L"Setting X is not defined"},
      {"error without text", frame(marker), L"Double exception on read from serializer"},
      {"error with broken text", frame(marker + le32(3) + "\x03" "ab"), L"Double exception on read from serializer"},
      {"empty reply", frame(""), L"Unexpected end of data when read from serializer."},
      {"short frame", frame(le32(9) + "\x02" "a"), L"Unexpected end of data when read from serializer."},
      {"zero-length text", frame(le32(0)), L"Unexpected end of data when read C-string from serializer."},
      {"char size 3", frame(le32(3) + "\x03" "ab"), L"Unsupported char size when read C-string from serializer."},
      {"char size 1", frame(le32(3) + "\x01" "ok"), L"(no failure)"},
      // The count cuts the text block short; the bytes after it (here they look like a
      // reply) must not be taken for the next reply.
      {"frame longer than announced", le32(5) + le32(11) + "\x02" + frame(textReply(L"stale")),
       L"Unexpected end of data when read from serializer."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CadroSrvClient::resetInstance();
    std::atomic<int> served{0};
    ScriptedService service(socket_, [&](int fd, int) {
      while (auto request = readFrame(fd))
        writeBytes(fd, served++ == 0 ? c.reply : frame(textReply(askedName(*request))));
    });
    CadroSrvClient& client = CadroSrvClient::getInstance();
    auto [message, detail] = failureOf([&] { EXPECT_EQ(client.getString(L"X"), L"ok"); });
    EXPECT_EQ(message, c.expected);
    if (message != L"(no failure)") {
      EXPECT_NE(detail.find(L"getString(X)(CadroSrvClient::getString line"), std::wstring::npos) << detail;
    }
    EXPECT_EQ(client.getString(L"NEXT"), L"NEXT");
  }
}

TEST_F(ServiceClient, ServiceErrorIsNotAProtocolError) {
  ScriptedService service(socket_, [](int fd, int) {
    while (readFrame(fd)) writeBytes(fd, frame(le32(vserializer::kErrorMarker) + textReply(L"denied")));
  });
  EXPECT_THROW(
      {
        try {
          CadroSrvClient::getInstance().getString(L"X");
        } catch (const vserializer::invalidprotocol&) {
          FAIL() << "wrong type";
        }
      },
      vexception);
}

TEST_F(ServiceClient, AConnectionClosedMidFrameIsRepeatedOnceOnANewConnection) {
  ScriptedService service(socket_, [](int fd, int connection) {
    if (connection == 0) {
      if (readFrame(fd)) writeBytes(fd, frame(textReply(L"value")).substr(0, 7));
      return;
    }
    echoNames(fd, connection);
  });
  EXPECT_EQ(CadroSrvClient::getInstance().getString(L"A"), L"A");
  EXPECT_EQ(service.connections(), 2);
}

TEST_F(ServiceClient, AServiceThatClosedBetweenRequestsIsReconnectedTransparently) {
  ScriptedService service(socket_, [](int fd, int) {
    if (auto request = readFrame(fd)) writeBytes(fd, frame(textReply(askedName(*request))));
  });
  CadroSrvClient& client = CadroSrvClient::getInstance();
  for (const wchar_t* name : {L"A", L"B", L"C"}) EXPECT_EQ(client.getString(name), name);
  EXPECT_EQ(service.connections(), 3);
}

TEST_F(ServiceClient, APipeFinishedTwiceFailsOnceWithPipeIsFinishedThenRecovers) {
  std::atomic<bool> healthy{false};
  ScriptedService service(socket_, [&](int fd, int connection) {
    if (healthy) return echoNames(fd, connection);
    if (readFrame(fd)) writeBytes(fd, frame(textReply(L"value")).substr(0, 7));
  });
  CadroSrvClient& client = CadroSrvClient::getInstance();
  EXPECT_EQ(failureOf([&] { client.getString(L"A"); }).first, L"Completed only 3 of 15 bytes");
  EXPECT_EQ(service.connections(), 2) << "the request was repeated once";
  EXPECT_TRUE(logRecorder().take().empty());

  healthy = true;
  auto [message, detail] = failureOf([&] { client.getString(L"B"); });
  EXPECT_EQ(message, L"Pipe is finished");
  EXPECT_NE(detail.find(L"getString(B)"), std::wstring::npos);
  EXPECT_EQ(logRecorder().take(),
            std::vector<std::wstring>{L"1:Connection to Cadro Management service is broken: Pipe is finished"});

  EXPECT_EQ(client.getString(L"C"), L"C");
}

TEST_F(ServiceClient, ServiceStoppedGivesConnectErrorAndDefaults) {
  auto [message, detail] = failureOf([] { CadroSrvClient::getInstance(); });
  EXPECT_EQ(message, L"No such file or directory (Error code 2) at Unable to connect to pipe \\\\.\\pipe\\cdrpipe");
  EXPECT_NE(detail.find(L"get shared instance of CadroSrvClient(CadroSrvClient::getInstance line"), std::wstring::npos);
  EXPECT_EQ(getConfigString(L"CADRO_DATABASE_PROVIDER_NAME", L"MySQL"), L"MySQL");

  // A socket left behind by a dead service refuses connections.
  {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socket_.c_str(), socket_.size() + 1);
    std::filesystem::create_directories(std::filesystem::path(socket_).parent_path());
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(s);
  }
  EXPECT_EQ(failureOf([] { CadroSrvClient::getInstance(); }).first,
            L"Connection refused (Error code 1225) at Unable to connect to pipe \\\\.\\pipe\\cdrpipe");

  // Once the service is there, the next call connects.
  ScriptedService service(socket_, echoNames);
  EXPECT_EQ(getConfigString(L"CADRO_DATABASE_PROVIDER_NAME", L"MySQL"), L"CADRO_DATABASE_PROVIDER_NAME");
}

TEST_F(ServiceClient, ServiceGoneAfterConnectingCannotBeReconnected) {
  ScriptedService service(socket_, [&](int fd, int) {
    // Takes the request, then the service disappears before answering.
    readFrame(fd);
    ::unlink(socket_.c_str());
  });
  auto [message, detail] = failureOf([&] { CadroSrvClient::getInstance().getString(L"A"); });
  EXPECT_EQ(message, L"Can't connect cadro service");
  EXPECT_NE(detail.find(L"No such file or directory (Error code 2) at Unable to connect to pipe"), std::wstring::npos)
      << detail;
}

TEST_F(ServiceClient, SetPasswordFailureNamesTheKeyButNeverTheValue) {
  ScriptedService service(socket_, [](int fd, int) {
    while (readFrame(fd)) writeBytes(fd, frame(le32(vserializer::kErrorMarker) + textReply(L"disk full")));
  });
  auto [message, detail] = failureOf([] { CadroSrvClient::getInstance().setPassword(L"pwd", L"TopSecret"); });
  EXPECT_EQ(message, L"disk full");
  EXPECT_NE(detail.find(L"setPassword('pwd')(CadroSrvClient::setPassword line"), std::wstring::npos);
  EXPECT_EQ(detail.find(L"TopSecret"), std::wstring::npos);
}

TEST_F(ServiceClient, ConcurrentCallersNeverShareAFrame) {
  ScriptedService service(socket_, echoNames);
  CadroSrvClient& client = CadroSrvClient::getInstance();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        std::wstring name = L"N" + std::to_wstring(t) + L"_" + std::to_wstring(i) + std::wstring(i * 37, L'x');
        if (client.getString(name) != name) ++wrong;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

class PipeChannel : public ServiceClient {
 protected:
  vpipechannel::client::Options options(int attempts, int timeoutMs) const {
    return {cadrosrv::kPipeName, socket_, attempts, std::chrono::milliseconds(timeoutMs)};
  }
  static vserializer::writer nameArgs(const std::wstring& name) {
    vserializer::writer w;
    w.writeString(name);
    return w;
  }
};

TEST_F(PipeChannel, ASilentServiceTimesOutAndItsLateReplyIsNeverTaken) {
  ScriptedService service(socket_, [&](int fd, int connection) {
    if (connection < 2) {
      // Never answers in time; the second connection answers late.
      auto request = readFrame(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(connection == 1 ? 400 : 300));
      if (request && connection == 1) writeBytes(fd, frame(textReply(L"late")));
      while (!service.stopping() && readFrame(fd)) writeBytes(fd, frame(textReply(L"late")));
      return;
    }
    echoNames(fd, connection);
  });
  vpipechannel::client channel(options(5, 150));
  try {
    channel.query(cadrosrv::kGetString, nameArgs(L"A"));
    FAIL();
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code(), winerr::kTimeout);
    EXPECT_NE(e.message().find(L"at Unable to complete pipe operation"), std::wstring::npos) << e.message();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(channel.query(cadrosrv::kGetString, nameArgs(L"B")).readString(), L"B");
}

TEST_F(PipeChannel, ABusyPipeIsWaitedForAndGivenUpAfterTheAttempts) {
  testing_support::BusyListener busy(socket_);
  auto started = std::chrono::steady_clock::now();
  try {
    vpipechannel::client channel(options(2, 1000));
    FAIL();
  } catch (const vosexception&) {
    FAIL() << "a busy pipe has no OS error";
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Unable to connect to pipe \\\\.\\pipe\\cdrpipe");
  }
  // Two attempts wait 1000 ms each (and 50 ms after); five would take over five seconds.
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(elapsed, std::chrono::milliseconds(2000));
  EXPECT_LT(elapsed, std::chrono::milliseconds(4000));
}

TEST_F(PipeChannel, ABusyPipeThatFreesUpDuringTheWaitConnects) {
  testing_support::BusyListener busy(socket_);
  std::thread freer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Taking the queued connection makes room for one more.
    int fd = ::accept(busy.fd(), nullptr, nullptr);
    if (fd >= 0) ::close(fd);
  });
  EXPECT_NO_THROW(vpipechannel::client channel(options(1, 1000)));
  freer.join();
}

TEST_F(PipeChannel, TheRegistryTryCountIsReadOncePerSixteenConnections) {
  auto setCount = [](uint32_t n) {
    ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"PipeConnectTryCount", n), 0u);
  };
  EXPECT_EQ(vpipechannel::connectAttempts(5), 5) << "absent: the caller's count";
  setCount(3);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(vpipechannel::connectAttempts(5), 5) << i;
  EXPECT_EQ(vpipechannel::connectAttempts(5), 3) << "read again on the 17th connection";
  setCount(0);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(vpipechannel::connectAttempts(5), 3);
  EXPECT_EQ(vpipechannel::connectAttempts(5), 5) << "0 means the caller's count";

  // A value that cannot be read stops the reads for good.
  vpipechannel::resetConnectAttempts();
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"PipeConnectTryCount", std::wstring(L"2")), 0u);
  EXPECT_EQ(vpipechannel::connectAttempts(5), 5);
  setCount(2);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(vpipechannel::connectAttempts(5), 5);
}

TEST_F(ServiceClient, ABusyPipeWithTryCountTwoGivesUpAfterTwoAttempts) {
  ASSERT_EQ(registry::write(HKEY_LOCAL_MACHINE, registry::kConfigKey, L"PipeConnectTryCount", 2u), 0u);
  testing_support::BusyListener busy(socket_);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(failureOf([] { CadroSrvClient::getInstance(); }).first, L"Unable to connect to pipe \\\\.\\pipe\\cdrpipe");
  // Each attempt waits 1000 ms for the pipe; the default of five would take over five seconds.
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(elapsed, std::chrono::milliseconds(2000));
  EXPECT_LT(elapsed, std::chrono::milliseconds(4000));
  EXPECT_EQ(getConfigString(L"X", L"default"), L"default");
}
