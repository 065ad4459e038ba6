#include "platform/vfilename.h"

#include <cstdlib>

#include "platform/text_codec.h"

std::wstring VFileName::expandEnvironmentStrings(const std::wstring& in) {
  std::wstring out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    if (in[i] != L'%') {
      out.push_back(in[i++]);
      continue;
    }
    size_t close = in.find(L'%', i + 1);
    if (close == std::wstring::npos) {
      out.append(in, i, std::wstring::npos);
      break;
    }
    std::wstring name = in.substr(i + 1, close - i - 1);
    const char* value = name.empty() ? nullptr : std::getenv(text::toAnsi(name).c_str());
    if (value) {
      out += text::fromAnsi(value);
      i = close + 1;
    } else {
      // Unknown: the text stays, and the closing "%" may open the next reference.
      out.append(in, i, close - i);
      i = close;
    }
  }
  return out;
}
