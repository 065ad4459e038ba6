#include "traffic/w3c_record.h"

#include "platform/text_codec.h"
#include "traffic/w3c_white_space.h"

bool W3CRecord::contains(std::wstring_view name) const {
  return names_ && names_->resolve(names_->find(name), values_.size()) >= 0;
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
                          const text::NarrowCodec& codec) {
  if (names_ != names) names_ = names;
  const size_t wanted = names ? names->size() : 0;
  values_.clear();
  if (codec.isUtf8() && parseAscii(bytes, wanted)) return;
  storage_.clear();
  codec.appendDecoded(bytes, storage_);
  lineLength_ = storage_.size();
  splitWide(wanted);
}

// Decodes and splits in one pass while the line is pure ASCII, which it nearly always is;
// gives up (false) at the first other byte, leaving the line to the codec.
bool W3CRecord::parseAscii(std::string_view bytes, size_t wanted) {
  const size_t n = bytes.size();
  // Growing only: resize() writes just the characters beyond the previous line's length.
  storage_.resize(n);
  wchar_t* out = storage_.data();
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t start = 0;
  for (size_t i = 0; i < n; ++i) {
    const unsigned c = in[i];
    if (c >= 0x80) {
      values_.clear();
      return false;
    }
    out[i] = static_cast<wchar_t>(c);
    if (w3c::isAsciiWhiteSpace(c)) {
      if (values_.size() < wanted) values_.push_back(Span{start, i});
      start = i + 1;
    }
  }
  if (values_.size() < wanted) values_.push_back(Span{start, n});
  lineLength_ = n;
  return true;
}

void W3CRecord::splitWide(size_t wanted) {
  size_t start = 0;
  for (size_t i = 0; i < lineLength_ && values_.size() < wanted; ++i) {
    if (w3c::isWhiteSpace(storage_[i])) {
      values_.push_back(Span{start, i});
      start = i + 1;
    }
  }
  if (values_.size() < wanted) values_.push_back(Span{start, lineLength_});
}

void W3CRecord::assign(const std::shared_ptr<const W3CFieldNames>& names, std::wstring_view line,
                       std::span<const std::wstring_view> values) {
  if (names_ != names) names_ = names;
  storage_.assign(line);
  lineLength_ = line.size();
  values_.clear();
  const size_t paired = std::min(values.size(), names ? names->size() : 0);
  for (size_t i = 0; i < paired; ++i) {
    const size_t begin = storage_.size();
    storage_.append(values[i]);
    values_.push_back(Span{begin, storage_.size()});
  }
}
