// Temporary stand-in for the management-service client while it is being built: every
// request fails as with an unreachable service, so getConfigString gives its defaults.
#include "platform/cadrosrv_client.h"
#include "platform/vexception.h"

namespace {

[[noreturn]] void unreachable() {
  throw vexception(L"get shared instance of CadroSrvClient",
                   VCTX(L"The management service client is not available", "CadroSrvClient::getInstance"));
}

}  // namespace

CadroSrvClient& CadroSrvClient::getInstance() { unreachable(); }
std::wstring CadroSrvClient::getString(const std::wstring&) { unreachable(); }
std::wstring CadroSrvClient::getPassword(const std::wstring&) { unreachable(); }
void CadroSrvClient::setPassword(const std::wstring&, const std::wstring&) { unreachable(); }

std::wstring getConfigString(const std::wstring&, const std::wstring& defaultValue) { return defaultValue; }
