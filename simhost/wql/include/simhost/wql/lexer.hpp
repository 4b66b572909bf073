// WQL tokens. Keywords are not reserved here; the parser matches identifiers case-insensitively.
#pragma once

#include "simhost/wql/error.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace simhost::wql {

enum class TokenKind {
  identifier,
  string,  // text is unescaped
  number,  // text as written: decimal, with fraction/exponent, or 0x hex; no sign
  op,      // = <> != < > <= >=
  minus,   // leading sign of a number literal
  star,
  comma,
  lparen,
  rparen,
  path,  // contents of {...}, trimmed
  end,
};

struct Token {
  TokenKind kind;
  std::wstring text;
  std::size_t offset;  // into the query text
};

// Inside string literals a backslash escapes ', " and \; before any other character it makes the
// query malformed, as WMI has it ('a\b' must be written 'a\\b'). A {path} runs to the matching
// brace; parts quoted with " or ' inside it may contain braces. The last token is always `end`.
Expected<std::vector<Token>> tokenize(std::wstring_view text);

}  // namespace simhost::wql
