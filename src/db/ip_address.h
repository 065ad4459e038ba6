#pragma once
// IPv4 addresses as the control-panel database stores them (dotted text) and as the
// program computes with them: unsigned 32-bit numbers, the first octet most significant.

#include <cstdint>
#include <string>
#include <string_view>

// Reads up to four decimal octets separated by "." from the start of `text` and stops at
// the first part that is not a number from 0 to 255 (an empty part, a sign, white space, a
// larger number). Missing octets are zero: "10.1" gives 10.1.0.0. `bitsRead`, when given,
// receives 8 per octet read (0 to 32), so that a caller can tell a short or malformed
// address from a complete one. Never throws.
uint32_t parseIPAddress(std::wstring_view text, int* bitsRead = nullptr);

// The four octets from the most significant down, separated by ".".
std::wstring formatIPAddress(uint32_t address);
