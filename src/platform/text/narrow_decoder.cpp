#include "platform/text/narrow_decoder.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace text {
namespace {

iconv_t descriptorOf(void* handle) { return static_cast<iconv_t>(handle); }
const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

// Converts with `cd` (reset first), marking each byte it cannot take as U+FFFD and going on
// after it. Returns false when the input ends inside a character (EINVAL) and `strict`.
bool convert(iconv_t cd, std::string_view bytes, std::wstring& out, bool strict) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  wchar_t buffer[256];
  while (inLeft > 0) {
    char* outPtr = reinterpret_cast<char*>(buffer);
    size_t outLeft = sizeof(buffer);
    size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, (sizeof(buffer) - outLeft) / sizeof(wchar_t));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      if (errno == EINVAL && strict) return false;
      out.push_back(kReplacement);
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return true;
}

// The set's 256 characters when every byte alone is one character (or an invalid byte);
// null when some byte begins a longer sequence or a byte gives no character at all.
std::shared_ptr<const NarrowDecoder::ByteTable> buildTable(iconv_t cd) {
  auto table = std::make_shared<NarrowDecoder::ByteTable>();
  std::wstring one;
  for (int b = 0; b < 256; ++b) {
    one.clear();
    const char byte = static_cast<char>(b);
    if (!convert(cd, std::string_view(&byte, 1), one, true) || one.size() != 1) return nullptr;
    (*table)[static_cast<size_t>(b)] = one[0];
  }
  return table;
}

// Tables by character-set name, each built at its first use and kept for the process.
struct TableCache {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<const NarrowDecoder::ByteTable>> tables;  // null: no table
};

TableCache& tableCache() {
  static TableCache* cache = new TableCache;  // never destroyed: decoders may outlive static objects
  return *cache;
}

}  // namespace

NarrowDecoder::NarrowDecoder(const NarrowCodec& codec) {
  if (codec.isUtf8()) return;
  iconv_t cd = iconv_open("WCHAR_T", codec.codeset().c_str());
  if (cd == kNoDescriptor) return;  // decoded as UTF-8, as the codec does
  {
    TableCache& cache = tableCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto [it, inserted] = cache.tables.try_emplace(codec.codeset());
    if (inserted) it->second = buildTable(cd);
    table_ = it->second;
  }
  if (table_) {
    iconv_close(cd);
    for (int b = 1; b < 0x80 && asciiTransparent_; ++b)
      asciiTransparent_ = (*table_)[static_cast<size_t>(b)] == static_cast<wchar_t>(b);
    return;
  }
  iconv_ = cd;
  std::wstring one;
  for (int b = 1; b < 0x80 && asciiTransparent_; ++b) {
    one.clear();
    const char byte = static_cast<char>(b);
    asciiTransparent_ = convert(cd, std::string_view(&byte, 1), one, true) && one.size() == 1 &&
                        one[0] == static_cast<wchar_t>(b);
  }
}

NarrowDecoder::~NarrowDecoder() {
  if (iconv_) iconv_close(descriptorOf(iconv_));
}

void NarrowDecoder::appendDecoded(std::string_view bytes, std::wstring& out) const {
  if (table_) {
    const ByteTable& table = *table_;
    const size_t at = out.size();
    out.resize(at + bytes.size());
    wchar_t* o = out.data() + at;
    for (unsigned char c : bytes) *o++ = table[c];
    return;
  }
  if (iconv_) {
    convert(descriptorOf(iconv_), bytes, out, false);
    return;
  }
  appendFromUtf8(bytes, out);
}

std::wstring NarrowDecoder::decode(std::string_view bytes) const {
  std::wstring out;
  out.reserve(bytes.size());
  appendDecoded(bytes, out);
  return out;
}

}  // namespace text
