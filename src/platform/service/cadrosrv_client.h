#pragma once
// The process-wide client of the control panel's management service, reached over the
// socket run/pipe/cdrpipe under the system root (the pipe "\\.\pipe\cdrpipe", see
// pipe_channel.h for how the pipe's states map onto the socket).
// Requests are serialised by the client; every failure is a vexception passed on with a
// record that names the request ("getString(%s)", ...). A password value is never part of
// a message.

#include <cstdint>
#include <memory>
#include <string>

class CadroSrvClient {
 public:
  // The single client, created (and connected) on first use. A failure is rethrown with
  // the record "get shared instance of CadroSrvClient" (operation
  // "CadroSrvClient::getInstance") and the next call tries again. Thread-safe.
  static CadroSrvClient& getInstance();

  // The service setting `name`; failures pass on as "getString(%s)".
  std::wstring getString(const std::wstring& name);
  // The stored password of `key`; failures pass on as "getPassword('%s')".
  std::wstring getPassword(const std::wstring& key);
  // Stores a password; failures (including an error reply of the service) pass on as
  // "setPassword('%s')" with the key only.
  void setPassword(const std::wstring& key, const std::wstring& value);
  // Information of `kind` about an installed component (kind 2: its installation
  // directory); failures pass on as "componentInfo for package '%s'".
  std::wstring componentInfo(const std::wstring& package, int32_t kind);

  // Drops the process's client so that the next getInstance() connects anew (tests that
  // start and stop services). No other thread may be using the client.
  static void resetInstance();

  ~CadroSrvClient();
  CadroSrvClient(const CadroSrvClient&) = delete;
  CadroSrvClient& operator=(const CadroSrvClient&) = delete;

  class Channel;

 private:
  CadroSrvClient();
  std::unique_ptr<Channel> channel_;
};

// The service setting `name`, or `defaultValue` when asking fails for any reason
// (including a service that cannot be reached).
std::wstring getConfigString(const std::wstring& name, const std::wstring& defaultValue);
