#include "simhost/wql/parser.hpp"

#include "simhost/cim/text.hpp"
#include "simhost/wql/lexer.hpp"

#include <optional>

namespace simhost::wql {
namespace {

using cim::iequals;

// Words that cannot stand for a property name in a condition.
constexpr std::wstring_view kReserved[] = {L"SELECT", L"FROM", L"WHERE", L"AND",  L"OR",    L"NOT",
                                           L"IS",     L"NULL", L"LIKE",  L"TRUE", L"FALSE", L"OF"};

bool reserved(std::wstring_view word) {
  for (auto r : kReserved)
    if (iequals(r, word))
      return true;
  return false;
}

struct ParseFailure {
  Error error;
};

// AND, OR, NOT and parentheses a condition may hold. Parsing, evaluating and freeing a condition
// recurse as deep as it nests, so an unbounded one could overflow the stack of the calling thread
// (1 MB on Windows); WMI also refuses conditions with too many operators.
constexpr std::size_t kMaxConditionOperators = 256;

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : toks_(std::move(tokens)) {}

  Query query() {
    if (keyword(L"SELECT"))
      return select();
    if (keyword(L"ASSOCIATORS"))
      return associators();
    if (keyword(L"REFERENCES"))
      return references();
    fail(L"expected SELECT, ASSOCIATORS OF or REFERENCES OF");
  }

 private:
  const Token& peek(std::size_t ahead = 0) const {
    const std::size_t i = pos_ + ahead;
    return i < toks_.size() ? toks_[i] : toks_.back();
  }
  const Token& next() { return toks_[pos_ < toks_.size() - 1 ? pos_++ : pos_]; }

  [[noreturn]] void fail(const std::wstring& what) const {
    throw ParseFailure{{ErrorCode::invalid_query,
                        what + L" at offset " + std::to_wstring(peek().offset) +
                            (peek().kind == TokenKind::end ? L" (end of query)" : L" near '" + peek().text + L"'")}};
  }

  bool is_keyword(std::wstring_view word, std::size_t ahead = 0) const {
    return peek(ahead).kind == TokenKind::identifier && iequals(peek(ahead).text, word);
  }
  bool keyword(std::wstring_view word) {
    if (!is_keyword(word))
      return false;
    ++pos_;
    return true;
  }
  void expect_keyword(std::wstring_view word) {
    if (!keyword(word))
      fail(L"expected " + std::wstring(word));
  }
  bool accept(TokenKind kind) {
    if (peek().kind != kind)
      return false;
    ++pos_;
    return true;
  }
  std::wstring identifier(const wchar_t* what) {
    if (peek().kind != TokenKind::identifier || reserved(peek().text))
      fail(std::wstring(L"expected ") + what);
    return next().text;
  }
  void expect_end() {
    if (peek().kind != TokenKind::end)
      fail(L"unexpected text after the query");
  }

  SelectQuery select() {
    SelectQuery q;
    if (!accept(TokenKind::star)) {
      do
        q.properties.push_back(identifier(L"a property name or *"));
      while (accept(TokenKind::comma));
    }
    expect_keyword(L"FROM");
    q.class_name = identifier(L"a class name");
    if (keyword(L"WHERE"))
      q.where = or_expr();
    expect_end();
    return q;
  }

  // Counts one operator of the condition.
  void operator_seen() {
    if (++operators_ > kMaxConditionOperators)
      throw ParseFailure{{ErrorCode::quota_violation, L"more than " + std::to_wstring(kMaxConditionOperators) +
                                                          L" AND, OR, NOT and parentheses in the condition"}};
  }

  std::unique_ptr<Expr> binary(Expr::Kind kind, std::unique_ptr<Expr> l, std::unique_ptr<Expr> r) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->left = std::move(l);
    e->right = std::move(r);
    return e;
  }

  std::unique_ptr<Expr> or_expr() {
    auto left = and_expr();
    while (keyword(L"OR")) {
      operator_seen();
      left = binary(Expr::Kind::or_, std::move(left), and_expr());
    }
    return left;
  }

  std::unique_ptr<Expr> and_expr() {
    auto left = not_expr();
    while (keyword(L"AND")) {
      operator_seen();
      left = binary(Expr::Kind::and_, std::move(left), not_expr());
    }
    return left;
  }

  std::unique_ptr<Expr> not_expr() {
    if (keyword(L"NOT")) {
      operator_seen();
      return binary(Expr::Kind::not_, not_expr(), nullptr);
    }
    if (accept(TokenKind::lparen)) {
      operator_seen();
      auto inner = or_expr();
      if (!accept(TokenKind::rparen))
        fail(L"expected )");
      return inner;
    }
    auto e = std::make_unique<Expr>();
    e->compare = comparison();
    return e;
  }

  // A literal, or nullopt when the next token does not start one.
  std::optional<cim::Value> literal() {
    const Token& t = peek();
    if (t.kind == TokenKind::string) {
      ++pos_;
      return cim::Value::string(t.text);
    }
    if (t.kind == TokenKind::identifier) {
      if (iequals(t.text, L"TRUE") || iequals(t.text, L"FALSE")) {
        ++pos_;
        return cim::Value::boolean(iequals(t.text, L"TRUE"));
      }
      if (iequals(t.text, L"NULL")) {
        ++pos_;
        return cim::Value::null(cim::CimType::String);
      }
      return std::nullopt;
    }
    const bool negative = t.kind == TokenKind::minus;
    if (negative && peek(1).kind != TokenKind::number)
      fail(L"expected a number after '-'");
    if (!negative && t.kind != TokenKind::number)
      return std::nullopt;
    if (negative)
      ++pos_;
    const std::wstring text = (negative ? L"-" : L"") + next().text;
    cim::Value v;
    using cim::CimType;
    using cim::Conversion;
    const bool real = text.find_first_of(L".eE") != std::wstring::npos && text.find(L'x') == std::wstring::npos &&
                      text.find(L'X') == std::wstring::npos;
    if (real) {
      if (cim::convert(cim::Value::string(text), CimType::Real64, false, v) != Conversion::ok)
        fail(L"number out of range");
    } else if (cim::convert(cim::Value::string(text), CimType::SInt64, false, v) != Conversion::ok &&
               cim::convert(cim::Value::string(text), CimType::UInt64, false, v) != Conversion::ok) {
      fail(L"number out of range");
    }
    return v;
  }

  static CompareOp op_of(const std::wstring& s) {
    if (s == L"=")
      return CompareOp::eq;
    if (s == L"<>" || s == L"!=")
      return CompareOp::ne;
    if (s == L"<")
      return CompareOp::lt;
    if (s == L">")
      return CompareOp::gt;
    if (s == L"<=")
      return CompareOp::le;
    return CompareOp::ge;
  }

  static CompareOp mirrored(CompareOp op) {
    switch (op) {
      case CompareOp::lt:
        return CompareOp::gt;
      case CompareOp::gt:
        return CompareOp::lt;
      case CompareOp::le:
        return CompareOp::ge;
      case CompareOp::ge:
        return CompareOp::le;
      default:
        return op;
    }
  }

  // `= NULL` and `<> NULL` mean IS NULL and IS NOT NULL; no other operator takes NULL.
  void null_operand(Comparison& c) {
    if (!c.literal.is_null())
      return;
    if (c.op == CompareOp::eq)
      c.op = CompareOp::is_null;
    else if (c.op == CompareOp::ne)
      c.op = CompareOp::is_not_null;
    else
      fail(L"NULL can only be compared with =, <>, != or IS");
  }

  Comparison comparison() {
    Comparison c;
    if (auto lit = literal()) {
      if (peek().kind != TokenKind::op)
        fail(L"expected a comparison operator");
      c.op = mirrored(op_of(next().text));
      c.property = identifier(L"a property name");
      c.literal = std::move(*lit);
      null_operand(c);
      return c;
    }
    c.property = identifier(L"a property name");
    if (keyword(L"IS")) {
      c.op = keyword(L"NOT") ? CompareOp::is_not_null : CompareOp::is_null;
      expect_keyword(L"NULL");
      return c;
    }
    if (keyword(L"LIKE")) {
      c.op = CompareOp::like;
      if (peek().kind != TokenKind::string)
        fail(L"LIKE needs a string pattern");
      c.literal = cim::Value::string(next().text);
      return c;
    }
    if (peek().kind != TokenKind::op)
      fail(L"expected a comparison operator");
    c.op = op_of(next().text);
    auto lit = literal();
    if (!lit)
      fail(L"expected a literal (comparing two properties is not supported)");
    c.literal = std::move(*lit);
    null_operand(c);
    return c;
  }

  std::wstring path() {
    expect_keyword(L"OF");
    if (peek().kind != TokenKind::path)
      fail(L"expected {object path}");
    return next().text;
  }

  template <class Handler>
  void filters(Handler&& handle) {
    if (!keyword(L"WHERE")) {
      expect_end();
      return;
    }
    std::vector<std::wstring> seen;
    do {
      if (peek().kind != TokenKind::identifier)
        fail(L"expected an ASSOCIATORS/REFERENCES keyword");
      const std::wstring word = next().text;
      for (const auto& s : seen)
        if (iequals(s, word))
          fail(word + L" given twice");
      seen.push_back(word);
      if (iequals(word, L"ClassDefsOnly") || iequals(word, L"SchemaOnly"))
        fail(word + L" is not supported");
      if (iequals(word, L"KeysOnly")) {
        if (!handle(word, std::wstring()))
          fail(L"unexpected keyword");
        continue;
      }
      if (!(peek().kind == TokenKind::op && peek().text == L"="))
        fail(L"expected = after " + word);
      ++pos_;
      if (peek().kind != TokenKind::identifier)
        fail(L"expected a name after " + word + L"=");
      if (!handle(word, next().text))
        fail(L"unexpected keyword");
    } while (peek().kind != TokenKind::end);
  }

  AssociatorsQuery associators() {
    AssociatorsQuery q;
    q.path = path();
    filters([&q](const std::wstring& word, std::wstring value) {
      auto& f = q.filter;
      if (iequals(word, L"KeysOnly"))
        q.keys_only = true;
      else if (iequals(word, L"AssocClass"))
        f.assoc_class = std::move(value);
      else if (iequals(word, L"ResultClass"))
        f.result_class = std::move(value);
      else if (iequals(word, L"Role"))
        f.role = std::move(value);
      else if (iequals(word, L"ResultRole"))
        f.result_role = std::move(value);
      else if (iequals(word, L"RequiredQualifier"))
        f.required_qualifier = std::move(value);
      else if (iequals(word, L"RequiredAssocQualifier"))
        f.required_assoc_qualifier = std::move(value);
      else
        return false;
      return true;
    });
    return q;
  }

  ReferencesQuery references() {
    ReferencesQuery q;
    q.path = path();
    filters([&q](const std::wstring& word, std::wstring value) {
      auto& f = q.filter;
      if (iequals(word, L"KeysOnly"))
        q.keys_only = true;
      else if (iequals(word, L"ResultClass"))
        f.result_class = std::move(value);
      else if (iequals(word, L"Role"))
        f.role = std::move(value);
      else if (iequals(word, L"RequiredQualifier"))
        f.required_qualifier = std::move(value);
      else
        return false;
      return true;
    });
    return q;
  }

  std::vector<Token> toks_;
  std::size_t pos_ = 0;
  std::size_t operators_ = 0;
};

}  // namespace

Expected<Query> parse(std::wstring_view text) {
  auto tokens = tokenize(text);
  if (!tokens)
    return Expected<Query>::failure(tokens.error());
  try {
    Parser p(std::move(tokens.value()));
    return p.query();
  } catch (const ParseFailure& f) {
    return Expected<Query>::failure(f.error);
  }
}

}  // namespace simhost::wql
