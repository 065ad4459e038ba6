#pragma once
// Reader of log files in the W3C extended log format, as IIS and its FTP service write
// them: directive lines beginning with "#" (among them "Fields", which names the columns),
// each block of directives followed by records, one per line, values separated by white
// space. A file reads as a sequence of header blocks, each block as a sequence of records:
//
//   for (W3CFile::iterator block(path); !block.atEnd(); ++block) {
//     const W3CField bytes = block->field(L"sc-bytes");         // once per block
//     for (W3CFile::line_iterator line(*block); !line.atEnd(); ++line)
//       use(line->get(bytes), line->get(L"cs-host"), line->line());
//   }
//
// A NUL byte ends the file as the end of the file does. Lines before the first header block
// are skipped. Each "#" block replaces the directives and field names of the one before.
// Bytes are decoded from the system code page; invalid bytes become U+FFFD, so decoding
// never fails.

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/text_codec.h"
#include "traffic/log_byte_source.h"
#include "traffic/w3c_field_names.h"
#include "traffic/w3c_record.h"

class W3CFile {
 public:
  using record = W3CRecord;
  using field = W3CField;
  class header;
  class iterator;
  class line_iterator;

 private:
  // What a file's header blocks and line iterators read through: the input and the code
  // page of its text. Owned by the header-block iterator.
  struct Input {
    Input(std::unique_ptr<LogByteSource> s, const text::NarrowCodec& c)
        : source(std::move(s)), decoder(c) {}
    std::unique_ptr<LogByteSource> source;
    text::NarrowDecoder decoder;  // opened once for the whole file
  };
};

// One header block: its directives and its field names.
class W3CFile::header {
 public:
  using directive_map = std::map<std::wstring, std::wstring, std::less<>>;

  // Directive name to value, ordered by name (case-sensitive).
  const directive_map& directives() const { return directives_; }
  // The value of a directive, or empty when the block has none of that name.
  std::wstring_view directive(std::wstring_view name) const;
  // The names of the "Fields" directive in file order; empty without one.
  const std::vector<std::wstring>& fieldNames() const { return fields_->names(); }
  const std::shared_ptr<const W3CFieldNames>& fields() const { return fields_; }
  // Handle for reading `name` from this block's records; an invalid handle (reading as
  // empty) when the block has no such field.
  W3CFile::field field(std::wstring_view name) const { return fields_->find(name); }

 private:
  friend class W3CFile::iterator;
  friend class W3CFile::line_iterator;
  directive_map directives_;
  std::shared_ptr<const W3CFieldNames> fields_ = W3CFieldNames::make({});
  W3CFile::Input* input_ = nullptr;  // the file it reads from; null at the end
};

// The header-block iterator. Owns the file; closes it at the end of the file or when
// destroyed. Move-only.
class W3CFile::iterator {
 public:
  // The end iterator.
  iterator();
  // Opens `path` and positions on the first header block (at the end at once when the file
  // holds none). Raises vexception "Can't open file " + path (context
  // "W3CFile::iterator::iterator") when the file cannot be opened or is not a regular file.
  explicit iterator(const std::wstring& path);
  // Reads from `source` with `codec` (tests and other inputs than files); null is the end.
  iterator(std::unique_ptr<LogByteSource> source, text::NarrowCodec codec);
  // Reads `bytes`, which the caller keeps alive while the iterator and its line iterators
  // are used.
  static iterator fromBytes(std::string_view bytes);
  ~iterator();
  iterator(iterator&&) noexcept;
  iterator& operator=(iterator&&) noexcept;
  iterator(const iterator&) = delete;
  iterator& operator=(const iterator&) = delete;

  bool atEnd() const { return !input_; }
  // Two iterators are equal when both are at their end (or they are the same iterator).
  bool operator==(const iterator& other) const { return input_ == other.input_; }
  // The current header block. Precondition: !atEnd().
  const header& operator*() const { return header_; }
  const header* operator->() const { return &header_; }
  // Moves to the next header block, skipping any records of the current one that were not
  // read. Line iterators of the current block must not be used afterwards.
  iterator& operator++();

 private:
  void positionOnHeader();
  void readHeaderBlock();
  void close();

  std::unique_ptr<Input> input_;
  header header_;
};

// The records of one header block. Each advance reads the next line into the same record,
// reusing its storage: copy the record to keep it. Must not outlive the header-block
// iterator, nor be used after that iterator has advanced.
class W3CFile::line_iterator {
 public:
  // The end iterator.
  line_iterator() = default;
  // Reads the first record of `block` at once.
  explicit line_iterator(const header& block);

  bool atEnd() const { return !input_; }
  bool operator==(const line_iterator& other) const { return input_ == other.input_; }
  // The current record. Precondition: !atEnd().
  const record& operator*() const { return record_; }
  const record* operator->() const { return &record_; }
  // Reads the next record; at the end of the file, a NUL byte or the next header block
  // the iterator is at its end.
  line_iterator& operator++();

 private:
  static constexpr size_t kReservedLine = 1024;
  void readRecord();

  Input* input_ = nullptr;
  std::shared_ptr<const W3CFieldNames> fields_;
  record record_;
};
