#include "db/ado/jet_sql.h"

#include <vector>

namespace ado::jet {

namespace {

enum class Kind { Word, String, QuotedName, Number, Variable, Identity, Operator, Open, Close, Comma, Dot, Other, End };

struct Token {
  Kind kind;
  size_t leadBegin;  // white space and comments before the token
  size_t begin;
  size_t end;
};

constexpr size_t kNone = static_cast<size_t>(-1);

bool isWordStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool isWordChar(unsigned char c) { return isWordStart(c) || (c >= '0' && c <= '9') || c == '$'; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsUpper(std::string_view word, std::string_view upperName) {
  if (word.size() != upperName.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (upper(word[i]) != upperName[i]) return false;
  return true;
}

// Words that never stand for a value (operators, clauses, statement words).
constexpr std::string_view kReserved[] = {
    "ADD",     "ALL",     "ALTER",     "AND",        "AS",      "ASC",     "AUTOINCREMENT", "BEGIN",     "BETWEEN",
    "BY",      "CASE",    "CAST",      "CHECK",      "COLLATE", "COLUMN",  "COMMIT",        "CONSTRAINT", "CREATE",
    "CROSS",   "DEFAULT", "DELETE",    "DESC",       "DISTINCT", "DROP",   "ELSE",          "END",       "ESCAPE",
    "EXCEPT",  "EXISTS",  "FOREIGN",   "FROM",       "FULL",    "GLOB",    "GROUP",         "HAVING",    "IN",
    "INDEX",   "INNER",   "INSERT",    "INTERSECT",  "INTO",    "IS",      "ISNULL",        "JOIN",      "KEY",
    "LEFT",    "LIKE",    "LIMIT",     "MATCH",      "NATURAL", "NOT",     "NOTNULL",       "OFFSET",    "ON",
    "OR",      "ORDER",   "OUTER",     "PRIMARY",    "REFERENCES", "REGEXP", "RIGHT",       "ROLLBACK",  "SELECT",
    "SET",     "TABLE",   "THEN",      "TO",         "TRANSACTION", "UNION", "UNIQUE",      "UPDATE",    "USING",
    "VALUES",  "WHEN",    "WHERE",     "WITH",
};

constexpr std::string_view kLiteralWords[] = {"NULL",         "TRUE",         "FALSE",
                                              "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP"};

constexpr std::string_view kIntervals[] = {"YYYY", "Q", "M", "Y", "D", "W", "WW", "H", "N", "S"};

template <size_t N>
bool inList(std::string_view word, const std::string_view (&list)[N]) {
  for (std::string_view entry : list)
    if (equalsUpper(word, entry)) return true;
  return false;
}

bool isReserved(std::string_view word) { return inList(word, kReserved); }

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : s_(text) {}

  std::vector<Token> run() {
    std::vector<Token> tokens;
    for (;;) {
      const size_t lead = i_;
      skipSpaceAndComments();
      if (i_ >= s_.size()) {
        tokens.push_back({Kind::End, lead, i_, i_});
        return tokens;
      }
      const size_t begin = i_;
      const Kind kind = scan();
      tokens.push_back({kind, lead, begin, i_});
    }
  }

 private:
  unsigned char at(size_t k) const { return k < s_.size() ? static_cast<unsigned char>(s_[k]) : 0; }

  void skipSpaceAndComments() {
    while (i_ < s_.size()) {
      if (isSpace(at(i_))) {
        ++i_;
      } else if (at(i_) == '-' && at(i_ + 1) == '-') {
        while (i_ < s_.size() && at(i_) != '\n') ++i_;
      } else if (at(i_) == '/' && at(i_ + 1) == '*') {
        size_t close = s_.find("*/", i_ + 2);
        i_ = close == std::string_view::npos ? s_.size() : close + 2;
      } else {
        return;
      }
    }
  }

  // A quoted token up to `close`; a doubled closing character stays inside.
  void quoted(char close, bool doubling) {
    ++i_;
    while (i_ < s_.size()) {
      if (s_[i_] == close) {
        if (doubling && at(i_ + 1) == static_cast<unsigned char>(close)) {
          i_ += 2;
          continue;
        }
        ++i_;
        return;
      }
      ++i_;
    }
  }

  void number() {
    if (at(i_) == '0' && (at(i_ + 1) == 'x' || at(i_ + 1) == 'X')) {
      i_ += 2;
      while (isWordChar(at(i_))) ++i_;
      return;
    }
    while (isDigit(at(i_))) ++i_;
    if (at(i_) == '.') {
      ++i_;
      while (isDigit(at(i_))) ++i_;
    }
    if ((at(i_) == 'e' || at(i_) == 'E') &&
        (isDigit(at(i_ + 1)) || ((at(i_ + 1) == '+' || at(i_ + 1) == '-') && isDigit(at(i_ + 2))))) {
      i_ += 2;
      while (isDigit(at(i_))) ++i_;
    }
    // "12abc" is one (bad) token for SQLite as well.
    while (isWordChar(at(i_))) ++i_;
  }

  Kind scan() {
    const unsigned char c = at(i_);
    switch (c) {
      case '\'':
        quoted('\'', true);
        return Kind::String;
      case '"':
        quoted('"', true);
        return Kind::QuotedName;
      case '`':
        quoted('`', true);
        return Kind::QuotedName;
      case '[':
        quoted(']', false);
        return Kind::QuotedName;
      case '(':
        ++i_;
        return Kind::Open;
      case ')':
        ++i_;
        return Kind::Close;
      case ',':
        ++i_;
        return Kind::Comma;
      default:
        break;
    }
    if (isDigit(c) || (c == '.' && isDigit(at(i_ + 1)))) {
      number();
      return Kind::Number;
    }
    if (c == '.') {
      ++i_;
      return Kind::Dot;
    }
    if (isWordStart(c)) {
      while (isWordChar(at(i_))) ++i_;
      return Kind::Word;
    }
    if (c == '@' && at(i_ + 1) == '@') {
      size_t start = i_ + 2;
      i_ = start;
      while (isWordChar(at(i_))) ++i_;
      return equalsUpper(s_.substr(start, i_ - start), "IDENTITY") ? Kind::Identity : Kind::Variable;
    }
    if (c == '@' || c == ':' || c == '$' || c == '?') {
      ++i_;
      while (isWordChar(at(i_))) ++i_;
      return Kind::Variable;
    }
    static constexpr std::string_view kTwoCharOperators[] = {"||", "<=", ">=", "<>", "!=", "==", "<<", ">>", "->"};
    for (std::string_view op : kTwoCharOperators) {
      if (s_.substr(i_, 2) == op) {
        i_ += 2;
        if (op == "->" && at(i_) == '>') ++i_;
        return Kind::Operator;
      }
    }
    ++i_;
    return std::string_view("+-*/%<>=&|~;").find(static_cast<char>(c)) != std::string_view::npos ? Kind::Operator
                                                                                               : Kind::Other;
  }

  std::string_view s_;
  size_t i_ = 0;
};

class Rewriter {
 public:
  explicit Rewriter(std::string_view text)
      : s_(text), t_(Tokenizer(text).run()), match_(t_.size(), kNone), caseEnd_(t_.size(), kNone) {
    std::vector<size_t> open;
    for (size_t i = 0; i < t_.size(); ++i) {
      if (t_[i].kind == Kind::Open) {
        open.push_back(i);
      } else if (t_[i].kind == Kind::Close && !open.empty()) {
        match_[open.back()] = i;
        match_[i] = open.back();
        open.pop_back();
      }
    }
    // CASE ... END pairs within one level of matched parentheses.
    std::vector<size_t> frames;  // CASE tokens and matched "(" tokens
    for (size_t i = 0; i < t_.size(); ++i) {
      if (t_[i].kind == Kind::Open && match_[i] != kNone) {
        frames.push_back(i);
      } else if (t_[i].kind == Kind::Close && match_[i] != kNone) {
        while (!frames.empty() && frames.back() != match_[i]) frames.pop_back();
        if (!frames.empty()) frames.pop_back();
      } else if (isWord(i, "CASE")) {
        frames.push_back(i);
      } else if (isWord(i, "END") && !frames.empty() && t_[frames.back()].kind == Kind::Word) {
        caseEnd_[frames.back()] = i;
        frames.pop_back();
      }
    }
  }

  std::string run() {
    const size_t last = t_.size() - 1;  // the End token
    std::string out = range(0, last);
    out += lead(last);
    return out;
  }

 private:
  struct Chain {
    size_t begin = 0;
    size_t end = 0;
    std::vector<size_t> operators;  // index of each "+" or "-" between the terms
    bool hasPlus = false;
  };

  std::string_view text(size_t i) const { return s_.substr(t_[i].begin, t_[i].end - t_[i].begin); }
  std::string_view lead(size_t i) const { return s_.substr(t_[i].leadBegin, t_[i].begin - t_[i].leadBegin); }
  bool isOperator(size_t i, std::string_view op) const { return t_[i].kind == Kind::Operator && text(i) == op; }
  bool isWord(size_t i, std::string_view upperName) const {
    return t_[i].kind == Kind::Word && equalsUpper(text(i), upperName);
  }

  bool endsOperand(size_t i) const {
    switch (t_[i].kind) {
      case Kind::String:
      case Kind::QuotedName:
      case Kind::Number:
      case Kind::Variable:
      case Kind::Identity:
      case Kind::Close:
        return true;
      case Kind::Word:
        return !isReserved(text(i)) || isWord(i, "END") || inList(text(i), kLiteralWords);
      default:
        return false;
    }
  }

  // A name with its qualifiers: name ("." name)*.
  size_t dotted(size_t i, size_t to) const {
    size_t j = i + 1;
    while (j + 1 < to && t_[j].kind == Kind::Dot &&
           (t_[j + 1].kind == Kind::Word || t_[j + 1].kind == Kind::QuotedName))
      j += 2;
    return j;
  }

  // The END that closes the CASE at `i` before `to`, or kNone.
  size_t caseEnd(size_t i, size_t to) const { return caseEnd_[i] < to ? caseEnd_[i] : kNone; }

  size_t group(size_t i, size_t to) const {
    return t_[i].kind == Kind::Open && match_[i] != kNone && match_[i] < to ? match_[i] + 1 : kNone;
  }

  size_t primary(size_t i, size_t to) const {
    if (i >= to) return kNone;
    switch (t_[i].kind) {
      case Kind::String:
      case Kind::Number:
      case Kind::Variable:
      case Kind::Identity:
        return i + 1;
      case Kind::QuotedName:
        return dotted(i, to);
      case Kind::Open:
        return group(i, to);
      case Kind::Word:
        break;
      default:
        return kNone;
    }
    const std::string_view word = text(i);
    if (inList(word, kLiteralWords)) return i + 1;
    if (isWord(i, "CASE")) {
      size_t end = caseEnd(i, to);
      return end == kNone ? kNone : end + 1;
    }
    if (isWord(i, "CAST")) return i + 1 < to ? group(i + 1, to) : kNone;
    if (isReserved(word)) return kNone;
    size_t j = dotted(i, to);
    if (j < to && t_[j].kind == Kind::Open) {
      size_t call = group(j, to);
      if (call != kNone) return call;
    }
    return j;
  }

  bool isPrefix(size_t i) const { return isOperator(i, "-") || isOperator(i, "+") || isOperator(i, "~"); }

  size_t unary(size_t i, size_t to) const {
    while (i < to && isPrefix(i)) ++i;
    size_t j = primary(i, to);
    while (j != kNone && j + 1 < to && isWord(j, "COLLATE") &&
           (t_[j + 1].kind == Kind::Word || t_[j + 1].kind == Kind::QuotedName))
      j += 2;
    return j;
  }

  // Operators that bind tighter than "+": "||" and "->" above "*", "/", "%".
  size_t term(size_t i, size_t to) const {
    size_t j = unary(i, to);
    while (j != kNone && j < to &&
           (isOperator(j, "||") || isOperator(j, "->") || isOperator(j, "->>") || isOperator(j, "*") ||
            isOperator(j, "/") || isOperator(j, "%"))) {
      size_t next = unary(j + 1, to);
      if (next == kNone) break;
      j = next;
    }
    return j;
  }

  bool chain(size_t i, size_t to, Chain& out) const {
    size_t j = term(i, to);
    if (j == kNone) return false;
    out.begin = i;
    while (j < to && (isOperator(j, "+") || isOperator(j, "-"))) {
      size_t next = term(j + 1, to);
      if (next == kNone) break;
      out.operators.push_back(j);
      out.hasPlus = out.hasPlus || isOperator(j, "+");
      j = next;
    }
    out.end = j;
    return true;
  }

  // Tokens [from, to) at one level, with every chain that holds a "+" rewritten.
  std::string range(size_t from, size_t to) const {
    std::string out;
    bool afterOperand = false;
    size_t i = from;
    while (i < to) {
      Chain c;
      if (!afterOperand && chain(i, to, c)) {
        out += c.hasPlus ? rewrittenChain(c) : atoms(c.begin, c.end, true);
        i = c.end;
        afterOperand = true;
        continue;
      }
      size_t next = group(i, to);
      if (next == kNone) next = i + 1;
      // No operand follows a run of prefix operators here: none follows its later members.
      while (!afterOperand && next < to && isPrefix(next - 1) && isPrefix(next)) ++next;
      out += atoms(i, next, true);
      afterOperand = endsOperand(next - 1);
      i = next;
    }
    return out;
  }

  // Left-associative: a + b - c + d is jet_add(jet_add(a, b) - c, d), written with all the
  // opening calls first so that a long chain costs its length only.
  std::string rewrittenChain(const Chain& c) const {
    std::string out(lead(c.begin));
    for (size_t op : c.operators)
      if (isOperator(op, "+")) out += "jet_add(";
    out += atoms(c.begin, c.operators.front(), false);
    for (size_t k = 0; k < c.operators.size(); ++k) {
      const size_t op = c.operators[k];
      const size_t termEnd = k + 1 < c.operators.size() ? c.operators[k + 1] : c.end;
      if (isOperator(op, "+")) {
        out += ",";
        out += atoms(op + 1, termEnd, true);
        out += ")";
      } else {
        out += lead(op);
        out += "-";
        out += atoms(op + 1, termEnd, true);
      }
    }
    return out;
  }

  // Tokens [from, to) as written, with groups rewritten inside and the single-token
  // replacements made.
  std::string atoms(size_t from, size_t to, bool withLead) const {
    std::string out;
    for (size_t i = from; i < to; ++i) {
      if (withLead || i != from) out += lead(i);
      if (t_[i].kind == Kind::Identity) {
        out += "last_insert_rowid()";
        continue;
      }
      if (isWord(i, "CASE")) {
        const size_t end = caseEnd(i, to);
        if (end != kNone && depth_ < kMaxDepth) {
          ++depth_;
          out += text(i);
          out += range(i + 1, end);
          --depth_;
          out += lead(end);
          out += text(end);
          i = end;
          continue;
        }
      }
      if (t_[i].kind == Kind::Open && match_[i] != kNone && match_[i] < to) {
        const size_t close = match_[i];
        if (depth_ >= kMaxDepth) {
          // Deeper than SQLite parses anyway: copied as written.
          out += s_.substr(t_[i].begin, t_[close].end - t_[i].begin);
          i = close;
          continue;
        }
        ++depth_;
        out += text(i);
        size_t inner = i + 1;
        if (i > from && isWord(i - 1, "DATEADD") && t_[inner].kind == Kind::Word && inList(text(inner), kIntervals) &&
            inner + 1 < close && t_[inner + 1].kind == Kind::Comma) {
          out += lead(inner);
          out += "'";
          out += text(inner);
          out += "'";
          ++inner;
        }
        out += range(inner, close);
        --depth_;
        out += lead(close);
        out += text(close);
        i = close;
        continue;
      }
      out += text(i);
    }
    return out;
  }

  static constexpr int kMaxDepth = 200;

  std::string_view s_;
  std::vector<Token> t_;
  std::vector<size_t> match_;
  std::vector<size_t> caseEnd_;
  mutable int depth_ = 0;
};

}  // namespace

std::string rewriteForSqlite(std::string_view statement) { return Rewriter(statement).run(); }

}  // namespace ado::jet
