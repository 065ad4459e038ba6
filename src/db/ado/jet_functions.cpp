#include "db/ado/jet_functions.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "db/ado/jet_dates.h"

namespace ado::jet {

namespace {

constexpr const char* kTypeMismatch = "Data type mismatch in criteria expression.";
constexpr const char* kInvalidCall = "Invalid procedure call or argument";

std::string_view textOf(sqlite3_value* value) {
  const unsigned char* bytes = sqlite3_value_text(value);
  int length = sqlite3_value_bytes(value);
  return bytes ? std::string_view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length))
               : std::string_view();
}

// A function argument as a date: date text or a date serial number.
std::optional<DateTime> dateArgument(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return fromSerial(sqlite3_value_double(value));
    case SQLITE_TEXT:
      return parseDate(textOf(value));
    default:
      return std::nullopt;
  }
}

void resultDate(sqlite3_context* context, std::optional<DateTime> value, const char* failure) {
  if (!value) {
    sqlite3_result_error(context, failure, -1);
    return;
  }
  std::string text = formatDate(*value);
  sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

bool anyNull(int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i)
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
  return false;
}

void cdateFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (anyNull(argc, argv)) return sqlite3_result_null(context);
  resultDate(context, dateArgument(argv[0]), kTypeMismatch);
}

void dateaddFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (anyNull(argc, argv)) return sqlite3_result_null(context);
  if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) return sqlite3_result_error(context, kInvalidCall, -1);
  const std::string_view unit = textOf(argv[0]);
  // A count that is no whole number is rounded, as Jet does.
  const int numericType = sqlite3_value_numeric_type(argv[1]);
  int64_t count = 0;
  if (numericType == SQLITE_INTEGER) {
    count = sqlite3_value_int64(argv[1]);
  } else if (numericType == SQLITE_FLOAT) {
    double d = sqlite3_value_double(argv[1]);
    if (!std::isfinite(d) || std::fabs(d) > 9.0e15) return sqlite3_result_error(context, kInvalidCall, -1);
    count = std::llround(d);
  } else {
    return sqlite3_result_error(context, kTypeMismatch, -1);
  }
  std::optional<DateTime> date = dateArgument(argv[2]);
  if (!date) return sqlite3_result_error(context, kTypeMismatch, -1);
  resultDate(context, addInterval(*date, unit, count), kInvalidCall);
}

void dateFunction(sqlite3_context* context, int, sqlite3_value**) {
  DateTime now = localNow();
  resultDate(context, DateTime{now.seconds - ((now.seconds % 86400) + 86400) % 86400}, kInvalidCall);
}

void nowFunction(sqlite3_context* context, int, sqlite3_value**) { resultDate(context, localNow(), kInvalidCall); }

template <int64_t (*Part)(DateTime)>
void datePartFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (anyNull(argc, argv)) return sqlite3_result_null(context);
  std::optional<DateTime> date = dateArgument(argv[0]);
  if (!date) return sqlite3_result_error(context, kTypeMismatch, -1);
  sqlite3_result_int64(context, Part(*date));
}

int64_t yearPart(DateTime v) { return yearOf(v); }
int64_t monthPart(DateTime v) { return monthOf(v); }
int64_t dayPart(DateTime v) { return dayOf(v); }

void cstrFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (anyNull(argc, argv)) return sqlite3_result_null(context);
  std::string text = valueText(argv[0]);
  sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// The one-character text of a character code. Codes above 127 name different characters
// in different code pages, so only the ASCII range is answered.
void chrFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (anyNull(argc, argv)) return sqlite3_result_null(context);
  if (sqlite3_value_numeric_type(argv[0]) != SQLITE_INTEGER) return sqlite3_result_error(context, kTypeMismatch, -1);
  const int64_t code = sqlite3_value_int64(argv[0]);
  if (code < 0 || code > 127) return sqlite3_result_error(context, kInvalidCall, -1);
  const char character = static_cast<char>(code);
  sqlite3_result_text(context, &character, 1, SQLITE_TRANSIENT);
}

// Jet's "+": two texts are joined; anything else is added as numbers; NULL on either side
// gives NULL. SQLite's own "+" is numeric only, so the rewriter sends every "+" here.
void jetAddFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (anyNull(argc, argv)) return sqlite3_result_null(context);
  if (sqlite3_value_type(argv[0]) == SQLITE_TEXT && sqlite3_value_type(argv[1]) == SQLITE_TEXT) {
    std::string joined(textOf(argv[0]));
    joined += textOf(argv[1]);
    sqlite3_result_text(context, joined.data(), static_cast<int>(joined.size()), SQLITE_TRANSIENT);
    return;
  }
  const int left = sqlite3_value_numeric_type(argv[0]);
  const int right = sqlite3_value_numeric_type(argv[1]);
  if (left == SQLITE_INTEGER && right == SQLITE_INTEGER) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(sqlite3_value_int64(argv[0]), sqlite3_value_int64(argv[1]), &sum)) {
      sqlite3_result_int64(context, sum);
      return;
    }
  }
  // Text that is no number counts as its leading number (or 0), as in SQLite's "+".
  double sum = sqlite3_value_double(argv[0]) + sqlite3_value_double(argv[1]);
  if ((left != SQLITE_FLOAT && right != SQLITE_FLOAT) && std::nearbyint(sum) == sum && std::fabs(sum) < 9.0e18) {
    sqlite3_result_int64(context, static_cast<int64_t>(sum));
    return;
  }
  sqlite3_result_double(context, sum);
}

struct FunctionEntry {
  const char* name;
  int arguments;
  bool deterministic;
  void (*function)(sqlite3_context*, int, sqlite3_value**);
};

constexpr FunctionEntry kFunctions[] = {
    {"CDate", 1, true, cdateFunction},
    {"DATEADD", 3, true, dateaddFunction},
    {"DATE", 0, false, dateFunction},
    {"NOW", 0, false, nowFunction},
    {"YEAR", 1, true, datePartFunction<yearPart>},
    {"MONTH", 1, true, datePartFunction<monthPart>},
    {"DAY", 1, true, datePartFunction<dayPart>},
    {"cstr", 1, true, cstrFunction},
    {"Chr", 1, true, chrFunction},
    {"jet_add", 2, true, jetAddFunction},
};

unsigned char asciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

// SQLite's NOCASE, but over the whole length of both texts: the built-in one stops at a
// NUL and takes "a" NUL "b" for "a" NUL "c". Without NULs both order texts alike, so
// indexes built under either stay valid.
int nocaseCollation(void*, int leftLength, const void* left, int rightLength, const void* right) {
  const auto* a = static_cast<const unsigned char*>(left);
  const auto* b = static_cast<const unsigned char*>(right);
  const int shorter = leftLength < rightLength ? leftLength : rightLength;
  for (int i = 0; i < shorter; ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return asciiLower(a[i]) - asciiLower(b[i]);
  }
  return leftLength - rightLength;
}

}  // namespace

std::string realText(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string valueText(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
      return realText(sqlite3_value_double(value));
    case SQLITE_BLOB: {
      const void* bytes = sqlite3_value_blob(value);
      int length = sqlite3_value_bytes(value);
      return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(length)) : std::string();
    }
    default:
      return std::string(textOf(value));
  }
}

bool registerFunctions(sqlite3* db, std::string& error) {
  for (const FunctionEntry& entry : kFunctions) {
    int flags = SQLITE_UTF8 | SQLITE_INNOCUOUS | (entry.deterministic ? SQLITE_DETERMINISTIC : 0);
    if (sqlite3_create_function_v2(db, entry.name, entry.arguments, flags, nullptr, entry.function, nullptr, nullptr,
                                   nullptr) != SQLITE_OK) {
      error = std::string("Cannot register the function ") + entry.name + ": " + sqlite3_errmsg(db);
      return false;
    }
  }
  if (sqlite3_create_collation_v2(db, "NOCASE", SQLITE_UTF8, nullptr, nocaseCollation, nullptr) != SQLITE_OK) {
    error = std::string("Cannot register the collation NOCASE: ") + sqlite3_errmsg(db);
    return false;
  }
  return true;
}

}  // namespace ado::jet
