#pragma once
// Domain names for people: the control panel stores internationalised names in their
// ASCII-compatible form ("xn--mnchen-3ya.de"); messages show them as written
// ("münchen.de").

#include <string>

namespace idn {

// The Unicode form of `name`: each "xn--" label decoded, every other label unchanged (a
// label that does not decode stays as stored). A name holding a NUL character is returned
// unchanged. Throws a vexception "Memory allocation failed at convert: (" + name + ")."
// when the converter runs out of memory and "Unable to convert to UTF8 from (" + name +
// ")." when it yields nothing (operation "idn::toUnicode").
std::wstring toUnicode(const std::wstring& name);

}  // namespace idn
