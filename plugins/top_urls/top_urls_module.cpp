// The top URLs module: per host and day, the 20 URLs ("cs-uri-stem") requested most often
// over HTTP, with their hits and the bytes sent ("sc-bytes"), written when the module is
// finished as "top-urls-<host>-<YYYY-MM-DD>.json" into the domain's statistics directory.
//
// The program makes one module object per domain, host and log file; the lines of a host
// and day may come from several log files, so all objects of the library count into one
// table, and the first object finished writes the files of all of them.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <cadro/statistics_module.h>

namespace {

constexpr size_t kTopCount = 20;

struct UrlCount {
  int64_t hits = 0;
  int64_t bytes = 0;
};

struct DayKey {
  std::wstring domain;
  std::wstring host;
  int year, month, day;
  bool operator<(const DayKey& o) const {
    return std::tie(domain, host, year, month, day) < std::tie(o.domain, o.host, o.year, o.month, o.day);
  }
};

using UrlTable = std::map<std::wstring, UrlCount, std::less<>>;

// A decimal byte count; anything else (such as "-") counts 0, an overflow saturates.
int64_t byteCount(std::wstring_view text) {
  if (text.empty()) return 0;
  int64_t v = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    const int digit = c - L'0';
    if (v > (INT64_MAX - digit) / 10) return INT64_MAX;
    v = v * 10 + digit;
  }
  return v;
}

void appendUtf8(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// A JSON string: quotes, backslashes and control characters escaped, the rest UTF-8.
void appendJsonString(std::string& out, std::wstring_view text) {
  out.push_back('"');
  for (wchar_t w : text) {
    const auto cp = static_cast<char32_t>(w);
    if (cp == '"' || cp == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(cp));
      out.append(escaped);
    } else {
      appendUtf8(out, cp);
    }
  }
  out.push_back('"');
}

std::wstring dateText(const DayKey& key) {
  wchar_t buffer[16];
  std::swprintf(buffer, 16, L"%04d-%02d-%02d", key.year, key.month, key.day);
  return buffer;
}

std::string topUrlsJson(const DayKey& key, const UrlTable& urls) {
  std::vector<const UrlTable::value_type*> order;
  order.reserve(urls.size());
  for (const auto& entry : urls) order.push_back(&entry);
  const size_t count = std::min(kTopCount, order.size());
  std::partial_sort(order.begin(), order.begin() + static_cast<ptrdiff_t>(count), order.end(),
                    [](const auto* a, const auto* b) {
                      if (a->second.hits != b->second.hits) return a->second.hits > b->second.hits;
                      if (a->second.bytes != b->second.bytes) return a->second.bytes > b->second.bytes;
                      return a->first < b->first;
                    });
  std::string out = "{\n  \"domain\": ";
  appendJsonString(out, key.domain);
  out += ",\n  \"host\": ";
  appendJsonString(out, key.host);
  out += ",\n  \"date\": ";
  appendJsonString(out, dateText(key));
  out += ",\n  \"urls\": [";
  for (size_t i = 0; i < count; ++i) {
    out += i == 0 ? "\n    {\"url\": " : ",\n    {\"url\": ";
    appendJsonString(out, order[i]->first);
    out += ", \"hits\": " + std::to_string(order[i]->second.hits);
    out += ", \"bytes\": " + std::to_string(order[i]->second.bytes) + "}";
  }
  out += count == 0 ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

// The counts of all module objects of the library.
class TopUrlsTable {
 public:
  explicit TopUrlsTable(Statistics::ModuleHost& host) : host_(host) {}

  void add(std::wstring_view domain, std::wstring_view host, const Statistics::LineTime& t, std::wstring_view url,
           int64_t bytes) {
    // Lines come in runs of one host and day: the last table found serves the next line.
    if (!last_ || lastKey_->domain != domain || lastKey_->host != host || lastKey_->year != t.year ||
        lastKey_->month != t.month || lastKey_->day != t.day) {
      auto [it, added] = days_.try_emplace(DayKey{std::wstring(domain), std::wstring(host), t.year, t.month, t.day});
      lastKey_ = &it->first;
      last_ = &it->second;
    }
    auto found = last_->find(url);
    if (found == last_->end()) found = last_->emplace(std::wstring(url), UrlCount()).first;
    found->second.hits += 1;
    found->second.bytes = bytes > INT64_MAX - found->second.bytes ? INT64_MAX : found->second.bytes + bytes;
  }

  bool finished() const { return finished_; }

  // Writes one file per host and day; a file that cannot be written is reported as a
  // warning and the others are still written.
  void finish() {
    finished_ = true;
    for (const auto& [key, urls] : days_) {
      const std::wstring name = L"top-urls-" + key.host + L"-" + dateText(key) + L".json";
      std::wstring error;
      if (!host_.writeStatisticsFile(key.domain, name, topUrlsJson(key, urls), error)) {
        host_.report(Statistics::kWarning, L"Unable to write top URLs " + name + L" of domain " + key.domain + L": " + error);
      }
    }
    days_.clear();
    last_ = nullptr;
    lastKey_ = nullptr;
  }

 private:
  Statistics::ModuleHost& host_;
  std::map<DayKey, UrlTable> days_;
  const DayKey* lastKey_ = nullptr;
  UrlTable* last_ = nullptr;
  bool finished_ = false;
};

class TopUrlsModule final : public Statistics::Module {
 public:
  explicit TopUrlsModule(std::shared_ptr<TopUrlsTable> table) : table_(std::move(table)) {}

  void processLogLine(std::wstring_view domain, std::wstring_view host, std::wstring_view, int kind,
                      std::wstring_view, bool, const Statistics::LineTime& time,
                      const Statistics::LogLineFields& fields) override {
    if (kind != Statistics::kHttpLine || table_->finished()) return;
    const std::wstring_view url = fields.get(L"cs-uri-stem");
    if (url.empty() || url == L"-") return;
    table_->add(domain, host, time, url, byteCount(fields.get(L"sc-bytes")));
  }
  bool isFinished() const override { return table_->finished(); }
  void finish() override { table_->finish(); }

 private:
  std::shared_ptr<TopUrlsTable> table_;
};

std::weak_ptr<TopUrlsTable> g_table;

}  // namespace

CADRO_MODULE_EXPORT Statistics::Module* CreateTopUrlsModule(Statistics::ModuleHost& host, const wchar_t*) {
  if (host.interfaceVersion() < Statistics::kModuleInterfaceVersion) return nullptr;
  std::shared_ptr<TopUrlsTable> table = g_table.lock();
  if (!table) {
    table = std::make_shared<TopUrlsTable>(host);
    g_table = table;
  }
  return new TopUrlsModule(std::move(table));
}
