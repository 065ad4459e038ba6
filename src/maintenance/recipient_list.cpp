#include "maintenance/recipient_list.h"

namespace {

bool isSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

std::wstring_view trimmed(std::wstring_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

bool RecipientList::next(std::wstring_view& address) {
  enum class State { Between, Quoted, Bracketed, Bare };
  State state = State::Between;
  size_t start = 0;  // where the gathered text begins
  const size_t size = text_.size();
  while (pos_ < size) {
    const wchar_t c = text_[pos_++];
    std::wstring_view gathered;
    switch (state) {
      case State::Between:
        if (c == L'"') {
          state = State::Quoted;
        } else if (c == L'<') {
          state = State::Bracketed;
          start = pos_;
        } else if (c != L',' && !isSpace(c)) {
          state = State::Bare;
          start = pos_ - 1;
        }
        continue;
      case State::Quoted:
        if (c == L'"')
          state = State::Between;
        else if (c == L'\\' && pos_ < size)
          ++pos_;
        continue;
      case State::Bracketed:
        if (c != L'>') continue;
        gathered = text_.substr(start, pos_ - 1 - start);
        break;
      case State::Bare:
        if (c == L'<') {
          state = State::Bracketed;
          start = pos_;
          continue;
        }
        if (c != L',' && c != L';') continue;
        gathered = text_.substr(start, pos_ - 1 - start);
        break;
    }
    // An address ended here.
    state = State::Between;
    if (!(address = trimmed(gathered)).empty()) return true;
  }
  if (state == State::Bracketed || state == State::Bare) {
    address = trimmed(text_.substr(start));
    if (!address.empty()) return true;
  }
  return false;
}
