// Parsed WQL queries.
#pragma once

#include "simhost/cim/repository.hpp"
#include "simhost/cim/value.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace simhost::wql {

enum class CompareOp { eq, ne, lt, gt, le, ge, like, is_null, is_not_null };

// property <op> literal. A literal on the left is turned around by the parser. Literals are
// string, boolean, sint64/uint64 (integers) or real64 values; none for IS [NOT] NULL.
struct Comparison {
  std::wstring property;
  CompareOp op = CompareOp::eq;
  cim::Value literal;
};

struct Expr {
  enum class Kind { compare, and_, or_, not_ };
  Kind kind = Kind::compare;
  Comparison compare;           // Kind::compare
  std::unique_ptr<Expr> left;   // and_, or_, not_
  std::unique_ptr<Expr> right;  // and_, or_
};

struct SelectQuery {
  std::vector<std::wstring> properties;  // empty for *
  std::wstring class_name;
  std::unique_ptr<Expr> where;  // null without WHERE
};

// Where a kept query's {path} led, valid while the repository's paths stay as they were: callers
// repeat the same texts, and resolving the path is most of what such a query costs.
struct Resolved {
  std::uint64_t paths_version = 0;  // 0: not resolved yet
  cim::InstanceId id = 0;
};

struct AssociatorsQuery {
  std::wstring path;
  mutable Resolved source;
  cim::AssociatorFilter filter;
  bool keys_only = false;
};

struct ReferencesQuery {
  std::wstring path;
  mutable Resolved source;
  cim::ReferenceFilter filter;
  bool keys_only = false;
};

using Query = std::variant<SelectQuery, AssociatorsQuery, ReferencesQuery>;

}  // namespace simhost::wql
