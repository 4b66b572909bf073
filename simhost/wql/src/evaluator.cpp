#include "simhost/wql/evaluator.hpp"

#include "simhost/cim/text.hpp"
#include "simhost/wql/parser.hpp"

#include <algorithm>
#include <optional>

namespace simhost::wql {
namespace {

using cim::CimType;
using cim::Value;

// ---- LIKE ------------------------------------------------------------------------------------

struct PatternItem {
  enum class Kind { literal, any_one, any_run, set } kind = Kind::literal;
  wchar_t ch = 0;  // folded
  bool negate = false;
  std::vector<std::pair<wchar_t, wchar_t>> ranges;  // folded, inclusive
};

PatternItem item(PatternItem::Kind kind, wchar_t ch = 0) {
  PatternItem i;
  i.kind = kind;
  i.ch = ch;
  return i;
}

std::optional<std::vector<PatternItem>> compile_like(std::wstring_view p) {
  std::vector<PatternItem> out;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const wchar_t c = p[i];
    if (c == L'%') {
      if (out.empty() || out.back().kind != PatternItem::Kind::any_run)
        out.push_back(item(PatternItem::Kind::any_run));
    } else if (c == L'_') {
      out.push_back(item(PatternItem::Kind::any_one));
    } else if (c == L'[') {
      PatternItem set = item(PatternItem::Kind::set);
      std::size_t j = i + 1;
      if (j < p.size() && p[j] == L'^') {
        set.negate = true;
        ++j;
      }
      const std::size_t first = j;
      // A ']' right after the opening bracket is a member, not the end.
      while (j < p.size() && (p[j] != L']' || j == first)) {
        wchar_t lo = p[j];
        wchar_t hi = lo;
        if (j + 2 < p.size() && p[j + 1] == L'-' && p[j + 2] != L']') {
          hi = p[j + 2];
          j += 2;
        }
        lo = cim::fold(lo);
        hi = cim::fold(hi);
        set.ranges.emplace_back(lo < hi ? lo : hi, lo < hi ? hi : lo);
        ++j;
      }
      if (j >= p.size())
        return std::nullopt;
      out.push_back(std::move(set));
      i = j;
    } else {
      out.push_back(item(PatternItem::Kind::literal, cim::fold(c)));
    }
  }
  return out;
}

bool item_matches(const PatternItem& item, wchar_t c) {
  switch (item.kind) {
    case PatternItem::Kind::literal:
      return item.ch == c;
    case PatternItem::Kind::any_one:
      return true;
    case PatternItem::Kind::set: {
      bool in = false;
      for (const auto& [lo, hi] : item.ranges)
        in = in || (c >= lo && c <= hi);
      return in != item.negate;
    }
    case PatternItem::Kind::any_run:
      return true;
  }
  return false;
}

bool match_like(std::wstring_view text, const std::vector<PatternItem>& pattern) {
  // Classic wildcard matching with one backtrack point per '%': linear in practice.
  const std::wstring s = cim::fold(text);
  std::size_t si = 0, pi = 0;
  std::size_t star = pattern.size(), star_s = 0;
  while (si < s.size()) {
    if (pi < pattern.size() && pattern[pi].kind == PatternItem::Kind::any_run) {
      star = pi++;
      star_s = si;
    } else if (pi < pattern.size() && item_matches(pattern[pi], s[si])) {
      ++pi;
      ++si;
    } else if (star != pattern.size()) {
      pi = star + 1;
      si = ++star_s;
    } else {
      return false;
    }
  }
  while (pi < pattern.size() && pattern[pi].kind == PatternItem::Kind::any_run)
    ++pi;
  return pi == pattern.size();
}

// ---- Bound conditions --------------------------------------------------------------------------

struct Number {
  bool integral;
  bool negative;
  std::uint64_t magnitude;
  double real;
};

std::optional<Number> number_of(const cim::Scalar& s) {
  if (auto i = std::get_if<std::int64_t>(&s)) {
    const bool neg = *i < 0;
    const std::uint64_t mag = neg ? static_cast<std::uint64_t>(-(*i + 1)) + 1 : static_cast<std::uint64_t>(*i);
    return Number{true, neg, mag, static_cast<double>(*i)};
  }
  if (auto u = std::get_if<std::uint64_t>(&s))
    return Number{true, false, *u, static_cast<double>(*u)};
  if (auto d = std::get_if<double>(&s))
    return Number{false, *d < 0, 0, *d};
  return std::nullopt;
}

int compare_numbers(const Number& a, const Number& b) {
  if (a.integral && b.integral) {
    if (a.negative != b.negative)
      return a.negative ? -1 : 1;
    if (a.magnitude == b.magnitude)
      return 0;
    const bool less = a.magnitude < b.magnitude;
    return (less != a.negative) ? -1 : 1;
  }
  return a.real < b.real ? -1 : (a.real > b.real ? 1 : 0);
}

struct Bound {
  Expr::Kind kind = Expr::Kind::compare;
  // compare
  std::optional<std::size_t> index;  // regular property; otherwise the system property `name`
  std::wstring name;
  CompareOp op = CompareOp::eq;
  enum class Operand { text, number, boolean } operand = Operand::text;
  std::wstring text;
  Number number{};
  bool boolean = false;
  std::vector<PatternItem> pattern;
  bool textual = false;  // a scalar string, datetime or reference property
  // and_, or_, not_
  std::unique_ptr<Bound> left, right;
};

Error invalid(std::wstring what) {
  return {ErrorCode::invalid_query, std::move(what)};
}

struct PropertyType {
  CimType type;
  bool array;
};

std::optional<PropertyType> system_type(std::wstring_view name) {
  if (!cim::Repository::is_system_property(name))
    return std::nullopt;
  if (cim::iequals(name, L"__GENUS") || cim::iequals(name, L"__PROPERTY_COUNT"))
    return PropertyType{CimType::SInt32, false};
  return PropertyType{CimType::String, cim::iequals(name, L"__DERIVATION")};
}

Expected<std::unique_ptr<Bound>> bind(const Expr& e, const cim::ClassDef& cls) {
  using R = Expected<std::unique_ptr<Bound>>;
  auto b = std::make_unique<Bound>();
  b->kind = e.kind;
  if (e.kind != Expr::Kind::compare) {
    auto l = bind(*e.left, cls);
    if (!l)
      return l;
    b->left = std::move(l.value());
    if (e.right) {
      auto r = bind(*e.right, cls);
      if (!r)
        return r;
      b->right = std::move(r.value());
    }
    return b;
  }

  const Comparison& c = e.compare;
  PropertyType type;
  if (auto idx = cls.property_index(c.property)) {
    b->index = idx;
    type = {cls.properties()[*idx].type.type, cls.properties()[*idx].type.array};
  } else if (auto st = system_type(c.property)) {
    b->name = c.property;
    type = *st;
  } else {
    return R::failure(invalid(L"class " + cls.name() + L" has no property " + c.property));
  }
  b->op = c.op;
  if (c.op == CompareOp::is_null || c.op == CompareOp::is_not_null)
    return b;
  if (type.array)
    return R::failure(invalid(L"array property " + c.property + L" can only be tested for NULL"));

  if (c.op == CompareOp::like) {
    if (!cim::is_textual(type.type))
      return R::failure(invalid(L"LIKE needs a string property: " + c.property));
    auto pattern = compile_like(*c.literal.as_string());
    if (!pattern)
      return R::failure(invalid(L"LIKE pattern with an unterminated '['"));
    b->pattern = std::move(*pattern);
    b->text = *c.literal.as_string();
    b->textual = true;
    return b;
  }

  Value converted;
  const bool numeric = cim::is_integer(type.type) || cim::is_real(type.type) || type.type == CimType::Char16;
  if (numeric) {
    // A text literal is read as a number ('10' against a uint16). Try the integer forms first
    // so large values keep their precision.
    const bool ok = cim::convert(c.literal, CimType::SInt64, false, converted) == cim::Conversion::ok ||
                    cim::convert(c.literal, CimType::UInt64, false, converted) == cim::Conversion::ok ||
                    cim::convert(c.literal, CimType::Real64, false, converted) == cim::Conversion::ok;
    if (!ok || c.literal.as_bool())
      return R::failure(invalid(L"not a number for " + c.property));
    b->operand = Bound::Operand::number;
    b->number = *number_of(converted.get());
  } else if (type.type == CimType::Boolean) {
    if (c.op != CompareOp::eq && c.op != CompareOp::ne)
      return R::failure(invalid(L"a boolean takes only =, <> and !=: " + c.property));
    if (cim::convert(c.literal, CimType::Boolean, false, converted) != cim::Conversion::ok)
      return R::failure(invalid(L"not a boolean for " + c.property));
    b->operand = Bound::Operand::boolean;
    b->boolean = *converted.as_bool();
  } else {
    b->operand = Bound::Operand::text;
    b->text = cim::scalar_text(c.literal.get());
    b->textual = cim::is_textual(type.type);
  }
  return b;
}

// The text before a LIKE pattern's first wildcard or set.
std::wstring_view like_prefix(std::wstring_view pattern) {
  return pattern.substr(0, std::min(pattern.find_first_of(L"%_["), pattern.size()));
}

// A condition that every match meets and that the repository's value index answers:
// `text property = 'literal'` or `text property LIKE 'prefix...'`, alone or under AND.
const Bound* indexable(const Bound& b) {
  if (b.kind == Expr::Kind::and_) {
    const Bound* left = indexable(*b.left);
    return left != nullptr ? left : indexable(*b.right);
  }
  if (b.kind != Expr::Kind::compare || !b.index || !b.textual)
    return nullptr;
  if (b.op == CompareOp::eq)
    return &b;
  return b.op == CompareOp::like && !like_prefix(b.text).empty() ? &b : nullptr;
}

// The instances of the class and its subclasses that may match: those the index gives for one
// condition every match must meet, or all of them. In creation order.
std::vector<cim::InstanceId> candidates(const cim::Repository& repo, const cim::ClassDef& cls, const Bound* where) {
  const Bound* key = where != nullptr ? indexable(*where) : nullptr;
  if (key == nullptr)
    return repo.instances_of(cls, true);
  const bool like = key->op == CompareOp::like;
  std::vector<cim::InstanceId> out;
  std::size_t lists = 0;
  for (const cim::ClassDef* c : repo.schema().with_subclasses(cls)) {
    // Subclasses keep their inherited properties at the same places.
    auto more = repo.matching(*c, *key->index, like ? like_prefix(key->text) : std::wstring_view(key->text), like);
    lists += !more.empty();
    out.insert(out.end(), more.begin(), more.end());
  }
  if (lists > 1)
    std::sort(out.begin(), out.end());
  return out;
}

bool holds(int cmp, CompareOp op) {
  switch (op) {
    case CompareOp::eq:
      return cmp == 0;
    case CompareOp::ne:
      return cmp != 0;
    case CompareOp::lt:
      return cmp < 0;
    case CompareOp::gt:
      return cmp > 0;
    case CompareOp::le:
      return cmp <= 0;
    case CompareOp::ge:
      return cmp >= 0;
    default:
      return false;
  }
}

bool evaluate(const Bound& b, const cim::Repository& repo, const cim::Instance& inst) {
  switch (b.kind) {
    case Expr::Kind::and_:
      return evaluate(*b.left, repo, inst) && evaluate(*b.right, repo, inst);
    case Expr::Kind::or_:
      return evaluate(*b.left, repo, inst) || evaluate(*b.right, repo, inst);
    case Expr::Kind::not_:
      return !evaluate(*b.left, repo, inst);
    case Expr::Kind::compare:
      break;
  }
  std::optional<Value> system;
  if (!b.index)
    system = repo.system_property(inst, b.name);
  const Value& v = b.index ? inst.values[*b.index] : *system;

  if (b.op == CompareOp::is_null)
    return v.is_null();
  if (b.op == CompareOp::is_not_null)
    return !v.is_null();
  if (v.is_null())
    return false;  // only IS NULL matches a null property
  const cim::Scalar& s = v.get();
  if (b.op == CompareOp::like)
    return match_like(std::get<std::wstring>(s), b.pattern);
  switch (b.operand) {
    case Bound::Operand::number:
      return holds(compare_numbers(*number_of(s), b.number), b.op);
    case Bound::Operand::boolean: {
      const bool x = std::get<bool>(s);
      return holds(x == b.boolean ? 0 : (x ? 1 : -1), b.op);
    }
    case Bound::Operand::text:
      return holds(cim::icompare(cim::scalar_text(s), b.text), b.op);
  }
  return false;
}

template <class T>
Expected<T> failure(ErrorCode code, std::wstring what) {
  return Expected<T>::failure(Error{code, std::move(what)});
}

Expected<Result> run_select(const cim::Repository& repo, const SelectQuery& q) {
  const cim::ClassDef* cls = repo.schema().find(q.class_name);
  if (!cls)
    return failure<Result>(ErrorCode::invalid_class, L"unknown class " + q.class_name);
  Result r;
  if (!q.properties.empty())
    r.shown.assign(cls->properties().size(), false);
  for (const auto& p : q.properties) {
    if (const auto index = cls->property_index(p)) {
      r.properties.push_back(cls->properties()[*index].name);
      r.shown[*index] = true;
    } else if (cim::Repository::is_system_property(p)) {
      r.properties.push_back(p);
    } else {
      return failure<Result>(ErrorCode::invalid_query, L"class " + cls->name() + L" has no property " + p);
    }
  }
  std::unique_ptr<Bound> where;
  if (q.where) {
    auto bound = bind(*q.where, *cls);
    if (!bound)
      return Expected<Result>::failure(bound.error());
    where = std::move(bound.value());
  }
  for (cim::InstanceId id : candidates(repo, *cls, where.get())) {
    const cim::Instance* inst = repo.get(id);
    if (!where || evaluate(*where, repo, *inst))
      r.instances.push_back(id);
  }
  return r;
}

Expected<cim::InstanceId> resolve(const cim::Repository& repo, const std::wstring& text) {
  auto path = cim::ObjectPath::parse(text);
  if (!path)
    return failure<cim::InstanceId>(ErrorCode::invalid_query, L"malformed object path {" + text + L"}");
  if (path->is_class())
    return failure<cim::InstanceId>(ErrorCode::invalid_query,
                                    L"queries about a class are not supported: {" + text + L"}");
  auto id = repo.find(*path);
  if (!id)
    return failure<cim::InstanceId>(ErrorCode::not_found, L"no object at {" + text + L"}");
  return *id;
}

// A failure is not kept: its message is built afresh, and failing queries are not the hot path.
Expected<cim::InstanceId> source(const cim::Repository& repo, const std::wstring& text, Resolved& memo) {
  if (memo.paths_version == repo.paths_version())
    return memo.id;
  auto id = resolve(repo, text);
  if (id)
    memo = {repo.paths_version(), *id};
  return id;
}

}  // namespace

std::optional<bool> like(std::wstring_view text, std::wstring_view pattern) {
  auto compiled = compile_like(pattern);
  if (!compiled)
    return std::nullopt;
  return match_like(text, *compiled);
}

Expected<Result> execute(const cim::Repository& repo, const Query& query) {
  if (auto s = std::get_if<SelectQuery>(&query))
    return run_select(repo, *s);
  if (auto a = std::get_if<AssociatorsQuery>(&query)) {
    auto id = source(repo, a->path, a->source);
    if (!id)
      return Expected<Result>::failure(id.error());
    Result r;
    r.instances = repo.associators_of(*id, a->filter);
    r.keys_only = a->keys_only;
    return r;
  }
  const auto& ref = std::get<ReferencesQuery>(query);
  auto id = source(repo, ref.path, ref.source);
  if (!id)
    return Expected<Result>::failure(id.error());
  Result r;
  r.instances = repo.references_of(*id, ref.filter);
  r.keys_only = ref.keys_only;
  return r;
}

Expected<Result> execute(const cim::Repository& repo, std::wstring_view text) {
  auto q = parse(text);
  if (!q)
    return Expected<Result>::failure(q.error());
  return execute(repo, q.value());
}

}  // namespace simhost::wql
