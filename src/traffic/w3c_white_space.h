#pragma once
// The white-space characters that separate the values of a W3C log line: the program's one
// fixed set (platform/text/white_space.h), the same in every locale.

#include "platform/text/white_space.h"

namespace w3c {

using text::isAsciiWhiteSpace;
using text::isWhiteSpace;

}  // namespace w3c
