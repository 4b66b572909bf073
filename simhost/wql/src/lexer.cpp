#include "simhost/wql/lexer.hpp"

namespace simhost::wql {
namespace {

bool ident_start(wchar_t c) noexcept {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_';
}
bool digit(wchar_t c) noexcept {
  return c >= L'0' && c <= L'9';
}
bool ident_char(wchar_t c) noexcept {
  return ident_start(c) || digit(c);
}
bool hex_digit(wchar_t c) noexcept {
  return digit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}
bool space(wchar_t c) noexcept {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

Error fail(std::wstring what, std::size_t at) {
  return {ErrorCode::invalid_query, what + L" at offset " + std::to_wstring(at)};
}

}  // namespace

Expected<std::vector<Token>> tokenize(std::wstring_view t) {
  using R = Expected<std::vector<Token>>;
  std::vector<Token> out;
  std::size_t i = 0;
  while (i < t.size()) {
    const wchar_t c = t[i];
    const std::size_t start = i;
    if (space(c)) {
      ++i;
    } else if (ident_start(c)) {
      while (i < t.size() && ident_char(t[i]))
        ++i;
      out.push_back({TokenKind::identifier, std::wstring(t.substr(start, i - start)), start});
    } else if (digit(c)) {
      if (c == L'0' && i + 1 < t.size() && (t[i + 1] == L'x' || t[i + 1] == L'X')) {
        i += 2;
        const std::size_t digits = i;
        while (i < t.size() && hex_digit(t[i]))
          ++i;
        if (i == digits)
          return R::failure(fail(L"hex number without digits", start));
      } else {
        while (i < t.size() && digit(t[i]))
          ++i;
        if (i < t.size() && t[i] == L'.') {
          ++i;
          if (i >= t.size() || !digit(t[i]))
            return R::failure(fail(L"malformed number", start));
          while (i < t.size() && digit(t[i]))
            ++i;
        }
        if (i < t.size() && (t[i] == L'e' || t[i] == L'E')) {
          ++i;
          if (i < t.size() && (t[i] == L'+' || t[i] == L'-'))
            ++i;
          if (i >= t.size() || !digit(t[i]))
            return R::failure(fail(L"malformed exponent", start));
          while (i < t.size() && digit(t[i]))
            ++i;
        }
      }
      if (i < t.size() && (ident_char(t[i]) || t[i] == L'.'))
        return R::failure(fail(L"malformed number", start));
      out.push_back({TokenKind::number, std::wstring(t.substr(start, i - start)), start});
    } else if (c == L'\'' || c == L'"') {
      std::wstring text;
      ++i;
      for (;;) {
        if (i >= t.size())
          return R::failure(fail(L"unterminated string", start));
        const wchar_t d = t[i++];
        if (d == c)
          break;
        if (d == L'\\') {
          // Only \\, \' and \" are escapes; WMI refuses a backslash before anything else.
          if (i >= t.size() || (t[i] != L'\'' && t[i] != L'"' && t[i] != L'\\'))
            return R::failure(fail(L"backslash before a character that needs no escape", i - 1));
          text.push_back(t[i++]);
          continue;
        }
        text.push_back(d);
      }
      out.push_back({TokenKind::string, std::move(text), start});
    } else if (c == L'{') {
      int depth = 1;
      ++i;
      while (depth > 0) {
        if (i >= t.size())
          return R::failure(fail(L"unterminated {path}", start));
        const wchar_t d = t[i++];
        if (d == L'"' || d == L'\'') {
          while (i < t.size() && t[i] != d)
            i += (t[i] == L'\\' && i + 1 < t.size()) ? 2 : 1;
          if (i >= t.size())
            return R::failure(fail(L"unterminated quote in {path}", start));
          ++i;
        } else if (d == L'{') {
          ++depth;
        } else if (d == L'}') {
          --depth;
        }
      }
      std::wstring_view body = t.substr(start + 1, i - start - 2);
      while (!body.empty() && space(body.front()))
        body.remove_prefix(1);
      while (!body.empty() && space(body.back()))
        body.remove_suffix(1);
      if (body.empty())
        return R::failure(fail(L"empty {path}", start));
      out.push_back({TokenKind::path, std::wstring(body), start});
    } else if (c == L'=') {
      out.push_back({TokenKind::op, L"=", start});
      ++i;
    } else if (c == L'<' || c == L'>') {
      std::wstring op(1, c);
      ++i;
      if (i < t.size() && (t[i] == L'=' || (c == L'<' && t[i] == L'>')))
        op.push_back(t[i++]);
      out.push_back({TokenKind::op, std::move(op), start});
    } else if (c == L'!') {
      if (i + 1 >= t.size() || t[i + 1] != L'=')
        return R::failure(fail(L"'!' without '='", start));
      out.push_back({TokenKind::op, L"!=", start});
      i += 2;
    } else if (c == L'-') {
      out.push_back({TokenKind::minus, L"-", start});
      ++i;
    } else if (c == L'*') {
      out.push_back({TokenKind::star, L"*", start});
      ++i;
    } else if (c == L',') {
      out.push_back({TokenKind::comma, L",", start});
      ++i;
    } else if (c == L'(') {
      out.push_back({TokenKind::lparen, L"(", start});
      ++i;
    } else if (c == L')') {
      out.push_back({TokenKind::rparen, L")", start});
      ++i;
    } else {
      return R::failure(fail(L"unexpected character", start));
    }
  }
  out.push_back({TokenKind::end, L"", t.size()});
  return out;
}

}  // namespace simhost::wql
