#include "traffic/w3c_file.h"

#include "traffic/w3c_white_space.h"

std::wstring_view W3CFile::header::directive(std::wstring_view name) const {
  auto it = directives_.find(name);
  return it == directives_.end() ? std::wstring_view() : std::wstring_view(it->second);
}

W3CFile::iterator::iterator() = default;

W3CFile::iterator::iterator(const std::wstring& path)
    : iterator(LogByteSource::openFile(path, "W3CFile::iterator::iterator"), text::NarrowCodec::system()) {}

W3CFile::iterator::iterator(std::unique_ptr<LogByteSource> source, text::NarrowCodec codec) {
  if (!source) return;
  input_ = std::make_unique<Input>(std::move(source), std::move(codec));
  header_.input_ = input_.get();
  positionOnHeader();
}

W3CFile::iterator W3CFile::iterator::fromBytes(std::string_view bytes) {
  return iterator(std::make_unique<LogByteSource>(bytes), text::NarrowCodec::system());
}

W3CFile::iterator::~iterator() = default;
W3CFile::iterator::iterator(iterator&&) noexcept = default;
W3CFile::iterator& W3CFile::iterator::operator=(iterator&&) noexcept = default;

W3CFile::iterator& W3CFile::iterator::operator++() {
  if (input_) positionOnHeader();
  return *this;
}

void W3CFile::iterator::close() {
  input_.reset();
  header_.input_ = nullptr;
}

void W3CFile::iterator::positionOnHeader() {
  LogByteSource& source = *input_->source;
  for (;;) {
    int c = source.peek();
    if (c < 0) {
      close();
      return;
    }
    if (c == '#') {
      readHeaderBlock();
      return;
    }
    // A record outside any header block has no field names to pair with.
    source.skipLine();
  }
}

void W3CFile::iterator::readHeaderBlock() {
  LogByteSource& source = *input_->source;
  const text::NarrowDecoder& decoder = input_->decoder;
  header_.directives_.clear();
  while (source.peek() == '#') {
    source.advance();
    // The view dies with the next call on the source: everything is taken from it first.
    const std::string_view line = source.readLine();
    const size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    std::string_view value;
    if (colon != std::string_view::npos) {
      size_t start = colon + 1;
      while (start < line.size() && w3c::isAsciiWhiteSpace(static_cast<unsigned char>(line[start]))) ++start;
      value = line.substr(start);
    }
    if (!name.empty()) header_.directives_.insert_or_assign(decoder.decode(name), decoder.decode(value));
    source.skipLineBreaks();
  }
  header_.fields_ = W3CFieldNames::fromDirective(header_.directive(L"Fields"));
}

W3CFile::line_iterator::line_iterator(const header& block) : input_(block.input_), fields_(block.fields_) {
  if (!input_) return;
  // Sized once for the block, so ordinary lines never allocate; a longer line grows the
  // record, which keeps that size for the rest of the block.
  record_.reserve(kReservedLine, fields_->size());
  readRecord();
}

W3CFile::line_iterator& W3CFile::line_iterator::operator++() {
  if (input_) readRecord();
  return *this;
}

void W3CFile::line_iterator::readRecord() {
  LogByteSource& source = *input_->source;
  const int c = source.peek();
  if (c < 0 || c == '#') {
    // The end of the file, or a new header block for the header-block iterator to read.
    input_ = nullptr;
    return;
  }
  record_.parseLine(source.readLine(), fields_, input_->decoder);
  source.skipLineBreaks();
}
