#include "platform/service/cadrosrv_client.h"

#include <mutex>

#include "platform/service/cadrosrv_protocol.h"
#include "platform/report/guard.h"
#include "platform/service/pipe_channel.h"
#include "platform/text/vformat.h"

class CadroSrvClient::Channel : public vpipechannel::client {
 public:
  using vpipechannel::client::client;
};

namespace {

std::mutex& instanceMutex() {
  static std::mutex m;
  return m;
}

std::unique_ptr<CadroSrvClient>& instanceSlot() {
  static std::unique_ptr<CadroSrvClient> slot;
  return slot;
}

}  // namespace

CadroSrvClient::CadroSrvClient()
    : channel_(std::make_unique<Channel>(vpipechannel::client::Options{
          cadrosrv::kPipeName, cadrosrv::defaultSocketPath(), vpipechannel::kDefaultConnectAttempts,
          vpipechannel::kDefaultIoTimeout})) {}

CadroSrvClient::~CadroSrvClient() = default;

CadroSrvClient& CadroSrvClient::getInstance() {
  return guard::pass(VCTX(L"get shared instance of CadroSrvClient", "CadroSrvClient::getInstance"),
                     [&]() -> CadroSrvClient& {
                       std::lock_guard<std::mutex> lock(instanceMutex());
                       std::unique_ptr<CadroSrvClient>& slot = instanceSlot();
                       if (!slot) slot.reset(new CadroSrvClient());
                       return *slot;
                     });
}

void CadroSrvClient::resetInstance() {
  std::lock_guard<std::mutex> lock(instanceMutex());
  instanceSlot().reset();
}

std::wstring CadroSrvClient::getString(const std::wstring& name) {
  return guard::pass(VCTX(vformat(L"getString(%s)", name), "CadroSrvClient::getString"), [&] {
    vserializer::writer args;
    args.writeString(name);
    return channel_->query(cadrosrv::kGetString, args).readString();
  });
}

std::wstring CadroSrvClient::getPassword(const std::wstring& key) {
  return guard::pass(VCTX(vformat(L"getPassword('%s')", key), "CadroSrvClient::getPassword"), [&] {
    vserializer::writer args;
    args.writeString(key);
    return channel_->query(cadrosrv::kGetPassword, args).readString();
  });
}

void CadroSrvClient::setPassword(const std::wstring& key, const std::wstring& value) {
  guard::pass(VCTX(vformat(L"setPassword('%s')", key), "CadroSrvClient::setPassword"), [&] {
    vserializer::writer args;
    args.writeString(key);
    args.writeString(value);
    vserializer::reader reply = channel_->query(cadrosrv::kSetPassword, args);
    // The reply carries nothing to read, but an error reply means the password was not
    // stored, which the caller must learn.
    if (reply.startsWithError()) reply.readBlock();
  });
}

std::wstring CadroSrvClient::componentInfo(const std::wstring& package, int32_t kind) {
  return guard::pass(VCTX(vformat(L"componentInfo for package '%s'", package), "CadroSrvClient::componentInfo"), [&] {
    vserializer::writer args;
    args.writeString(package);
    args.writeInt32(kind);
    return channel_->query(cadrosrv::kComponentInfo, args).readString();
  });
}

std::wstring getConfigString(const std::wstring& name, const std::wstring& defaultValue) {
  try {
    return CadroSrvClient::getInstance().getString(name);
  } catch (...) {
    return defaultValue;
  }
}
