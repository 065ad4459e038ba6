#include "traffic/servu_file.h"

#include <limits>

#include "traffic/w3c_white_space.h"

struct ServUFile::iterator::Input {
  Input(std::unique_ptr<LogByteSource> s, text::NarrowCodec c) : source(std::move(s)), codec(std::move(c)) {}
  std::unique_ptr<LogByteSource> source;
  text::NarrowCodec codec;
};

namespace {

// The byte count of a transfer line. Anything but a plain decimal number, or one beyond
// 64 bits, counts 0: a damaged line must not add an invented amount.
uint64_t readByteCount(std::wstring_view word) {
  if (word.empty()) return 0;
  uint64_t value = 0;
  for (wchar_t c : word) {
    if (c < L'0' || c > L'9') return 0;
    const uint64_t digit = static_cast<uint64_t>(c - L'0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

ServUFile::iterator::iterator() = default;

ServUFile::iterator::iterator(const std::wstring& path)
    : iterator(LogByteSource::openFile(path, "ServUFile::iterator::iterator"), text::NarrowCodec::system()) {}

ServUFile::iterator::iterator(std::unique_ptr<LogByteSource> source, text::NarrowCodec codec) {
  if (!source) return;
  input_ = std::make_unique<Input>(std::move(source), std::move(codec));
  readRecord();
}

ServUFile::iterator ServUFile::iterator::fromBytes(std::string_view bytes) {
  return iterator(std::make_unique<LogByteSource>(bytes), text::NarrowCodec::system());
}

ServUFile::iterator::~iterator() = default;
ServUFile::iterator::iterator(iterator&&) noexcept = default;
ServUFile::iterator& ServUFile::iterator::operator=(iterator&&) noexcept = default;

ServUFile::iterator& ServUFile::iterator::operator++() {
  if (input_) readRecord();
  return *this;
}

void ServUFile::iterator::close() {
  input_.reset();
  // Frees the table's memory too, not only its entries.
  std::unordered_map<std::wstring, session>().swap(sessions_);
}

void ServUFile::iterator::readRecord() {
  LogByteSource& source = *input_->source;
  for (;;) {
    if (source.peek() < 0) {
      close();
      return;
    }
    // The view dies with the next call on the source: decode it first.
    const std::string_view bytes = source.readLine();
    line_.clear();
    input_->codec.appendDecoded(bytes, line_);
    source.skipLineBreaks();
    if (splitSessionLine()) {
      readSessionLine();
      return;
    }
  }
}

bool ServUFile::iterator::splitSessionLine() {
  words_.clear();
  size_t i = 0;
  const size_t n = line_.size();
  while (i < n) {
    while (i < n && w3c::isWhiteSpace(line_[i])) ++i;
    const size_t start = i;
    while (i < n && !w3c::isWhiteSpace(line_[i])) ++i;
    if (i > start) words_.push_back(Word{start, i});
  }
  if (words_.size() < 6) return false;
  const std::wstring_view id = word(5);
  return id.size() >= 2 && id.front() == L'(' && id.back() == L')';
}

bool ServUFile::iterator::wordIs(size_t i, std::wstring_view lowerText) const {
  return i < words_.size() && text::equalsNoCase(word(i), lowerText);
}

void ServUFile::iterator::readSessionLine() {
  const std::wstring_view id = word(5);
  text::assignLower(id.substr(1, id.size() - 2), key_);
  auto found = sessions_.find(key_);
  if (found == sessions_.end()) found = sessions_.emplace(key_, session{key_, {}, {}, {}}).first;
  session& current = found->second;

  using Kind = record::Kind;
  Kind kind = Kind::none;
  uint64_t bytes = 0;
  std::wstring_view file;
  const size_t count = words_.size();
  if (count >= 8 && wordIs(6, L"user") && wordIs(8, L"logged")) {
    text::assignLower(word(7), current.login);
    if (!current.localAddress.empty()) kind = Kind::login;
  } else if (count >= 12 && wordIs(6, L"connected") && wordIs(9, L"(local")) {
    // "Connected to CLIENT (Local address SERVER, port 21)": the comma belongs to the
    // sentence, not to the address.
    std::wstring_view local = word(11);
    if (!local.empty() && local.back() == L',') local.remove_suffix(1);
    text::assignLower(local, current.localAddress);
    text::assignLower(word(8), current.remoteAddress);
    if (!current.login.empty()) kind = Kind::login;
  } else if ((count >= 8 && wordIs(6, L"closing") && wordIs(7, L"connection")) || (count >= 7 && wordIs(6, L"221")) ||
             (count >= 9 && wordIs(7, L"closing") && wordIs(8, L"connection"))) {
    kind = Kind::closed;
  } else if (count >= 15 && (wordIs(6, L"sent") || wordIs(6, L"received")) && wordIs(14, L"bytes)")) {
    kind = wordIs(6, L"sent") ? Kind::download : Kind::upload;
    bytes = readByteCount(word(13));
    file = word(8);
  }
  record_.assign(current, word(2), word(3), kind, bytes, file, line_);
  // A closed session's record keeps the strings the entry had.
  if (kind == Kind::closed) sessions_.erase(found);
}
