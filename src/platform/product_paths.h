#pragma once
// Where the control panel is installed: the product paths come from the management service.

#include <string>

// The product path `name` ("PRODUCT_ROOT_D", "HTTPD_VHOSTS_D", "CATALINA_HOME",
// "WebalizerPath", "AWStatsPath") asked from the service and normalised ("/"-separated, no
// trailing separator). Failures are those of CadroSrvClient::getString.
std::wstring getProductPath(const std::wstring& name);
