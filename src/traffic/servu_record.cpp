#include "traffic/servu_record.h"

#include <array>
#include <span>

#include "platform/text/text_codec.h"

enum class ServURecord::Field : int {
  date,
  time,
  serverAddress,
  clientAddress,
  userName,
  sentBytes,
  receivedBytes,
  version,
  method,
  uriStem,
  other
};

namespace {

// The record a Serv-U line becomes for log collection, in its order.
constexpr const wchar_t* kW3CNames[] = {
    L"date",           L"time",          L"s-sitename",   L"s-computername", L"s-ip",         L"cs-method",
    L"cs-uri-stem",    L"cs-uri-query",  L"s-port",       L"cs-username",    L"c-ip",         L"cs-version",
    L"cs(User-Agent)", L"cs(Cookie)",    L"cs(Referer)",  L"cs-host",        L"sc-status",    L"sc-substatus",
    L"sc-win32-status", L"sc-bytes",     L"cs-bytes",     L"time-taken",
};
constexpr size_t kW3CCount = std::size(kW3CNames);

constexpr const wchar_t* kMonths[] = {L"JAN", L"FEB", L"MAR", L"APR", L"MAY", L"JUN",
                                      L"JUL", L"AUG", L"SEP", L"OCT", L"NOV", L"DEC"};

void appendNumber(std::wstring& out, uint64_t value) {
  wchar_t digits[20];
  size_t n = 0;
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

}  // namespace

ServURecord::Field ServURecord::fieldNamed(std::wstring_view name) {
  static constexpr struct {
    const wchar_t* name;
    Field field;
  } kKnownFields[] = {
      {L"date", Field::date},
      {L"time", Field::time},
      {L"s-ip", Field::serverAddress},
      {L"c-ip", Field::clientAddress},
      {L"cs-username", Field::userName},
      {L"sc-bytes", Field::sentBytes},
      {L"cs-bytes", Field::receivedBytes},
      {L"cs-version", Field::version},
      {L"cs-method", Field::method},
      {L"cs-uri-stem", Field::uriStem},
  };
  for (const auto& known : kKnownFields)
    if (text::equalsNoCase(name, known.name)) return known.field;
  return Field::other;
}

const std::shared_ptr<const W3CFieldNames>& ServURecord::w3cFieldNames() {
  static const std::shared_ptr<const W3CFieldNames> names =
      W3CFieldNames::make(std::vector<std::wstring>(std::begin(kW3CNames), std::end(kW3CNames)));
  return names;
}

void ServURecord::toW3C(W3CRecord& out) const {
  static const std::array<Field, kW3CCount> order = [] {
    std::array<Field, kW3CCount> fields{};
    for (size_t i = 0; i < kW3CCount; ++i) fields[i] = fieldNamed(kW3CNames[i]);
    return fields;
  }();
  std::array<std::wstring_view, kW3CCount> values;
  for (size_t i = 0; i < kW3CCount; ++i) values[i] = value(order[i]);
  out.assign(w3cFieldNames(), line_, values);
}

VDateTime ServURecord::utcTime() const {
  VDateTime moment = VDateTime::parse(value(Field::date), L"YMD");
  const VDateTime clock = VDateTime::parse(value(Field::time), L"hms");
  moment.hour = clock.hour;
  moment.minute = clock.minute;
  moment.second = clock.second;
  if (!moment.isValid()) return moment;
  return moment.toUtc();
}

void ServURecord::assign(const ServUSession& session, std::wstring_view dateWord, std::wstring_view timeWord,
                         Kind kind, uint64_t byteCount, std::wstring_view file, std::wstring_view line) {
  session_.id.assign(session.id);
  session_.login.assign(session.login);
  session_.localAddress.assign(session.localAddress);
  session_.remoteAddress.assign(session.remoteAddress);
  dateWord_.assign(dateWord);
  timeWord_.assign(timeWord);
  kind_ = kind;
  const bool transfer = kind == Kind::download || kind == Kind::upload;
  byteCount_ = transfer ? byteCount : 0;
  file_.assign(transfer ? file : std::wstring_view());
  line_.assign(line);
  formatDate();
  formatMethod();
  byteText_.clear();
  appendNumber(byteText_, byteCount_);
}

// "13Nov06" is 2006-11-13. The day and year digits are taken as written: the caller's date
// check rejects what is no day.
void ServURecord::formatDate() {
  dateText_.assign(L"-");
  if (dateWord_.size() != 7) return;
  const std::wstring_view word(dateWord_);
  int month = 0;
  for (int i = 0; i < 12; ++i)
    if (text::equalsNoCase(word.substr(2, 3), kMonths[i])) month = i + 1;
  if (month == 0) return;
  dateText_.assign(L"20");
  dateText_.append(word.substr(5));
  dateText_.push_back(L'-');
  dateText_.push_back(static_cast<wchar_t>(L'0' + month / 10));
  dateText_.push_back(static_cast<wchar_t>(L'0' + month % 10));
  dateText_.push_back(L'-');
  dateText_.append(word.substr(0, 2));
}

void ServURecord::formatMethod() {
  const wchar_t* verb = nullptr;
  switch (kind_) {
    case Kind::login: verb = L"user"; break;
    case Kind::download: verb = L"sent"; break;
    case Kind::upload: verb = L"created"; break;
    case Kind::closed: verb = L"closed"; break;
    case Kind::none: break;
  }
  if (!verb) {
    methodText_.assign(L"-");
    return;
  }
  std::wstring_view id(session_.id);
  const size_t firstNonZero = id.find_first_not_of(L'0');
  // An id of zeros only stays whole.
  if (firstNonZero != std::wstring_view::npos) id.remove_prefix(firstNonZero);
  methodText_.assign(L"[");
  methodText_.append(id);
  methodText_.push_back(L']');
  methodText_.append(verb);
}

std::wstring_view ServURecord::get(std::wstring_view fieldName) const { return value(fieldNamed(fieldName)); }

std::wstring_view ServURecord::value(Field field) const {
  switch (field) {
    case Field::date: return dateText_;
    case Field::time: return timeWord_;
    case Field::serverAddress: return session_.localAddress;
    case Field::clientAddress: return session_.remoteAddress;
    case Field::userName: return session_.login;
    case Field::sentBytes: return kind_ == Kind::download ? std::wstring_view(byteText_) : L"0";
    case Field::receivedBytes: return kind_ == Kind::upload ? std::wstring_view(byteText_) : L"0";
    case Field::version: return L"ftp";
    case Field::method: return methodText_;
    case Field::uriStem:
      if (kind_ == Kind::login) return session_.login;
      if (kind_ == Kind::download || kind_ == Kind::upload) return file_;
      return L"-";
    case Field::other: break;
  }
  return L"-";
}
