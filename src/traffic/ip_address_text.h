#pragma once
// Telling an IPv4 address from a host name in log fields.

#include <string_view>

// True when `text` begins with three decimal numbers each followed by a dot ("10.0.0.1",
// also "1.2.3." or "1.2.3.x"): how the logs' host and address fields are told from names.
bool looksLikeIPAddress(std::wstring_view text);
