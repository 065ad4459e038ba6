#pragma once
// Reader of Serv-U FTP server logs. Each line that belongs to an FTP session, such as
//
//   [2] Mon 13Nov06 10:00:00 - (000012) Connected to 192.0.2.7 (Local address 10.0.0.1, port 21)
//   [5] Mon 13Nov06 10:00:01 - (000012) User alice logged in
//   [2] Mon 13Nov06 10:00:09 - (000012) Sent file /home/a.zip successfully (512 kB/sec - 4096 Bytes)
//   [6] Mon 13Nov06 10:00:10 - (000012) Closing connection for user ALICE (00:00:10 connected)
//
// (sixth word a parenthesised session id), becomes one record that carries what the
// session's earlier lines said: its login and the two addresses. Sessions of several
// clients interleave freely. Lines of any other shape are skipped.
//
//   for (ServUFile::iterator line(path); !line.atEnd(); ++line)
//     use(line->get(L"cs-method"), line->get(L"sc-bytes"), line->utcTime());
//
// The session table belongs to the iterator: sessions that never close live until the end
// of the file, then die with the reader, so the table never outgrows the file. A NUL byte
// ends the file as its end does. Bytes are decoded from the system code page; invalid bytes
// become U+FFFD.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/text/text_codec.h"
#include "traffic/log_byte_source.h"
#include "traffic/servu_record.h"

class ServUFile {
 public:
  using record = ServURecord;
  using session = ServUSession;
  class iterator;
};

// The line iterator. Owns the file and the session table; closes the file and drops the
// sessions at the end of the file or when destroyed. Each advance reads the next record into
// the same record object: copy it to keep it. Move-only.
class ServUFile::iterator {
 public:
  // The end iterator.
  iterator();
  // Opens `path` and reads up to its first record. Raises vexception "Can't open file " +
  // path (context "ServUFile::iterator::iterator") when the file cannot be opened or is not
  // a regular file.
  explicit iterator(const std::wstring& path);
  // Reads from `source` with `codec` (tests and other inputs than files); null is the end.
  iterator(std::unique_ptr<LogByteSource> source, text::NarrowCodec codec);
  // Reads `bytes` in the system code page; the caller keeps them alive while reading.
  static iterator fromBytes(std::string_view bytes);
  ~iterator();
  iterator(iterator&&) noexcept;
  iterator& operator=(iterator&&) noexcept;
  iterator(const iterator&) = delete;
  iterator& operator=(const iterator&) = delete;

  bool atEnd() const { return !input_; }
  // The current record. Precondition: !atEnd().
  const record& operator*() const { return record_; }
  const record* operator->() const { return &record_; }
  // Reads the next record; at the end of the file (or a NUL byte) the iterator is at its end.
  iterator& operator++();

  // Sessions begun and not yet closed (0 at the end).
  size_t openSessions() const { return sessions_.size(); }

 private:
  struct Input;
  struct Word {
    size_t begin;
    size_t end;
  };

  void readRecord();
  // Splits line_ into words; false when the line is not a session line.
  bool splitSessionLine();
  // Updates the session of the line and fills record_.
  void readSessionLine();
  std::wstring_view word(size_t i) const {
    return i < words_.size() ? std::wstring_view(line_).substr(words_[i].begin, words_[i].end - words_[i].begin)
                             : std::wstring_view();
  }
  bool wordIs(size_t i, std::wstring_view lowerText) const;
  void close();

  std::unique_ptr<Input> input_;
  std::unordered_map<std::wstring, session> sessions_;
  // Per-line scratch, kept so that reading reuses its storage.
  std::wstring line_;
  std::vector<Word> words_;
  std::wstring key_;
  record record_;
};
