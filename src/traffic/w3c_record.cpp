#include "traffic/w3c_record.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "platform/text/text_codec.h"
#include "traffic/w3c_white_space.h"

bool W3CRecord::contains(std::wstring_view name) const {
  return names_ && names_->resolve(names_->find(name), paired_) >= 0;
}

size_t W3CRecord::size() const {
  size_t n = 0;
  forEach([&](std::wstring_view, std::wstring_view) { ++n; });
  return n;
}

std::map<std::wstring, std::wstring> W3CRecord::toMap() const {
  std::map<std::wstring, std::wstring> out;
  forEach([&](std::wstring_view name, std::wstring_view value) { out.emplace(name, value); });
  return out;
}

void W3CRecord::parseLine(std::string_view bytes, const std::shared_ptr<const W3CFieldNames>& names,
                          const text::NarrowDecoder& decoder) {
  if (names_ != names) names_ = names;
  const size_t wanted = names ? names->size() : 0;
  if (decoder.asciiTransparent() && parseAscii(bytes, wanted)) return;
  ascii_ = false;
  storage_.clear();
  decoder.appendDecoded(bytes, storage_);
  lineLength_ = storage_.size();
  splitWide(wanted);
}

// Decodes and splits in one pass while the line is pure ASCII, which it nearly always is;
// gives up (false) at the first other byte, leaving the whole line to the codec. Sixteen
// bytes at a time where SSE2 is there: a log line is some twenty values of ten bytes, and a
// byte loop spends most of its time on branches.
bool W3CRecord::parseAscii(std::string_view bytes, size_t wanted) {
  const size_t n = bytes.size();
  // resize() writes only the characters beyond the previous line's length.
  storage_.resize(n);
  bytes_.resize(n);
  wchar_t* out = storage_.data();
  char* const bytesOut = bytes_.data();
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  // Locals, not members: the character stores may alias anything, members would be
  // reloaded after each of them.
  Span* const spanOut = spans(wanted);
  size_t count = 0;
  size_t start = 0;
  bool emptyValue = false;  // two separators in a row, or one at an end
  auto separator = [&](size_t at) {
    if (count < wanted) spanOut[count++] = Span{start, at};
    emptyValue |= at == start;
    start = at + 1;
  };
  size_t i = 0;
#ifdef __SSE2__
  static_assert(sizeof(wchar_t) == 4, "the widening below writes 32-bit characters");
  const __m128i zero = _mm_setzero_si128();
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i belowTab = _mm_set1_epi8('\t' - 1);
  const __m128i aboveCr = _mm_set1_epi8('\r' + 1);
  __m128i anyControl = zero;
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    if (_mm_movemask_epi8(v) != 0) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytesOut + i), v);
    const __m128i lo = _mm_unpacklo_epi8(v, zero);
    const __m128i hi = _mm_unpackhi_epi8(v, zero);
    auto* o = reinterpret_cast<__m128i*>(out + i);
    _mm_storeu_si128(o, _mm_unpacklo_epi16(lo, zero));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(lo, zero));
    _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(hi, zero));
    _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(hi, zero));
    // All bytes are below 0x80 here, so the signed compares order them correctly.
    const __m128i controls = _mm_and_si128(_mm_cmpgt_epi8(v, belowTab), _mm_cmplt_epi8(v, aboveCr));
    anyControl = _mm_or_si128(anyControl, controls);
    unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, space), controls)));
    while (mask != 0) {
      separator(i + static_cast<size_t>(__builtin_ctz(mask)));
      mask &= mask - 1;
    }
  }
  bool otherSeparator = _mm_movemask_epi8(anyControl) != 0;
#else
  bool otherSeparator = false;
#endif
  for (; i < n; ++i) {
    const unsigned c = in[i];
    if (c >= 0x80) return false;
    out[i] = static_cast<wchar_t>(c);
    bytesOut[i] = static_cast<char>(c);
    if (w3c::isAsciiWhiteSpace(c)) {
      otherSeparator |= c != ' ';
      separator(i);
    }
  }
  if (count < wanted) spanOut[count++] = Span{start, n};
  paired_ = count;
  lineLength_ = n;
  ascii_ = true;
  blankSeparated_ = !otherSeparator && !emptyValue && start < n;
  return true;
}

bool W3CRecord::appendAsciiRun(int first, size_t count, std::string& out) const {
  if (!ascii_ || !blankSeparated_ || first < 0 || count == 0 || static_cast<size_t>(first) + count > paired_)
    return false;
  const size_t begin = values_[static_cast<size_t>(first)].begin;
  out.append(bytes_.data() + begin, values_[static_cast<size_t>(first) + count - 1].end - begin);
  return true;
}

bool W3CRecord::appendAsciiValues(std::span<const W3CField> fields, std::string& out) const {
  if (!ascii_) return false;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out.push_back(' ');
    const int at = names_ ? names_->resolve(fields[i], paired_) : -1;
    const Span* value = at >= 0 ? &values_[static_cast<size_t>(at)] : nullptr;
    if (!value || value->begin == value->end)
      out.push_back('-');
    else
      out.append(bytes_.data() + value->begin, value->end - value->begin);
  }
  return true;
}

void W3CRecord::splitWide(size_t wanted) {
  Span* const out = spans(wanted);
  size_t count = 0;
  size_t start = 0;
  for (size_t i = 0; i < lineLength_ && count < wanted; ++i) {
    if (w3c::isWhiteSpace(storage_[i])) {
      out[count++] = Span{start, i};
      start = i + 1;
    }
  }
  if (count < wanted) out[count++] = Span{start, lineLength_};
  paired_ = count;
}

void W3CRecord::assign(const std::shared_ptr<const W3CFieldNames>& names, std::wstring_view line,
                       std::span<const std::wstring_view> values) {
  if (names_ != names) names_ = names;
  ascii_ = false;
  storage_.assign(line);
  lineLength_ = line.size();
  const size_t paired = std::min(values.size(), names ? names->size() : 0);
  Span* const out = spans(paired);
  for (size_t i = 0; i < paired; ++i) {
    const size_t begin = storage_.size();
    storage_.append(values[i]);
    out[i] = Span{begin, storage_.size()};
  }
  paired_ = paired;
}
