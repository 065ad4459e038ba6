#pragma once
// Where the control panel is installed and what its components are: the product paths come
// from the management service, the component values from the registry (under the
// configuration key's "Packages").

#include <string>

// The product path `name` ("PRODUCT_ROOT_D", "HTTPD_VHOSTS_D", "CATALINA_HOME",
// "WebalizerPath", "AWStatsPath") asked from the service and normalised ("/"-separated, no
// trailing separator). "PRODUCT_ROOT_D" is asked once per process and kept (a failed ask
// is not kept); the others at each call. Failures are those of CadroSrvClient::getString.
std::wstring getProductPath(const std::wstring& name);

// The default value of the component's key (Packages\<component>), empty when the key or
// the value is absent. A value of a type other than a string raises the registry's type
// error.
std::wstring getComponentValue(const std::wstring& component);
// The value `valueName` of the component's sub-entry (Packages\<component>\<subEntry>),
// empty when absent.
std::wstring getComponentValue(const std::wstring& component, const std::wstring& subEntry,
                               const std::wstring& valueName);

// Forgets the kept product root (tests that change the service's answers).
void resetProductPathCache();
