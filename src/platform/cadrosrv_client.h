#pragma once
// The process-wide client of the control panel's management service, reached over the
// socket run/pipe/cdrpipe under the system root (the pipe "\\.\pipe\cdrpipe").
// Requests are serialised by the client; every failure is a vexception whose message
// names the request ("getString(%s)", ...) with the underlying error attached. A password
// value is never part of a message.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class CadroSrvClient {
 public:
  // The single client, created (and connected) on first use. A failure is rethrown as
  // "get shared instance of CadroSrvClient" (operation "CadroSrvClient::getInstance")
  // and the next call tries again.
  static CadroSrvClient& getInstance();

  std::wstring getString(const std::wstring& name);
  std::wstring getPassword(const std::wstring& key);
  void setPassword(const std::wstring& key, const std::wstring& value);
  std::wstring componentInfo(const std::wstring& package, int32_t kind);

  // Drops the process's client so that the next getInstance() connects anew (tests that
  // start and stop services).
  static void resetInstance();

  ~CadroSrvClient();
  CadroSrvClient(const CadroSrvClient&) = delete;
  CadroSrvClient& operator=(const CadroSrvClient&) = delete;

  class Channel;

 private:
  CadroSrvClient();
  std::unique_ptr<Channel> channel_;
  std::mutex mutex_;
};

// The service setting `name`, or `defaultValue` when asking fails for any reason.
std::wstring getConfigString(const std::wstring& name, const std::wstring& defaultValue);
