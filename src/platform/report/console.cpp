#include "platform/report/console.h"

#include <cstdio>

#include "platform/text/text_codec.h"

namespace console {

void print(std::wstring_view textIn) {
  std::string utf8 = text::toUtf8(textIn);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

}  // namespace console
