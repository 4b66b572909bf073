#pragma once

#include "simhost/wql/ast.hpp"
#include "simhost/wql/error.hpp"

#include <string_view>

namespace simhost::wql {

// Parses one query. Anything outside the implemented grammar is ErrorCode::invalid_query:
//   SELECT * | prop {, prop} FROM class [WHERE cond]
//     cond: NOT > AND > OR, parentheses; prop op literal, literal op prop (op: = <> != < > <= >=),
//     prop LIKE 'pattern', prop IS [NOT] NULL, prop = NULL / prop <> NULL;
//     literals: 'text' "text" 12 -12 1.5 0x1F TRUE FALSE NULL
//   ASSOCIATORS OF {path} [WHERE AssocClass=c ResultClass=c Role=r ResultRole=r
//                                RequiredQualifier=q RequiredAssocQualifier=q KeysOnly]
//   REFERENCES OF {path} [WHERE ResultClass=c Role=r RequiredQualifier=q KeysOnly]
// ClassDefsOnly and SchemaOnly are refused: they are not implemented.
Expected<Query> parse(std::wstring_view text);

}  // namespace simhost::wql
