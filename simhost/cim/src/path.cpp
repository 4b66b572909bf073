#include "simhost/cim/path.hpp"

#include "simhost/cim/text.hpp"

#include <algorithm>

namespace simhost::cim {
namespace {

bool ident_start(wchar_t c) noexcept {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_';
}

bool ident_char(wchar_t c) noexcept {
  return ident_start(c) || (c >= L'0' && c <= L'9');
}

bool is_unquoted_literal(std::wstring_view v) noexcept {
  if (iequals(v, L"TRUE") || iequals(v, L"FALSE"))
    return true;
  std::size_t i = 0;
  if (i < v.size() && (v[i] == L'-' || v[i] == L'+'))
    ++i;
  bool hex = false;
  if (v.size() - i > 2 && v[i] == L'0' && (v[i + 1] == L'x' || v[i + 1] == L'X')) {
    hex = true;
    i += 2;
  }
  if (i >= v.size())
    return false;
  for (; i < v.size(); ++i) {
    const wchar_t c = v[i];
    const bool digit = c >= L'0' && c <= L'9';
    const bool hexdigit = (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (!digit && !(hex && hexdigit))
      return false;
  }
  return true;
}

class Reader {
 public:
  explicit Reader(std::wstring_view t) : t_(t) {}
  bool done() const noexcept { return i_ >= t_.size(); }
  wchar_t peek() const noexcept { return done() ? L'\0' : t_[i_]; }
  bool eat(wchar_t c) noexcept {
    if (peek() != c || done())
      return false;
    ++i_;
    return true;
  }
  std::optional<std::wstring> ident() {
    if (!ident_start(peek()))
      return std::nullopt;
    const std::size_t start = i_;
    while (!done() && ident_char(t_[i_]))
      ++i_;
    return std::wstring(t_.substr(start, i_ - start));
  }
  std::optional<KeyBinding> value() {
    KeyBinding k;
    const wchar_t quote = peek();
    if (quote == L'"' || quote == L'\'') {
      ++i_;
      // Most values hold no escape: take them in one piece.
      const std::size_t close = t_.find(quote, i_);
      if (close != std::wstring_view::npos && t_.substr(i_, close - i_).find(L'\\') == std::wstring_view::npos) {
        k.value.assign(t_.substr(i_, close - i_));
        i_ = close + 1;
        return k;
      }
      k.value.reserve(close == std::wstring_view::npos ? t_.size() - i_ : close - i_);
      for (;;) {
        if (done())
          return std::nullopt;
        wchar_t c = t_[i_++];
        if (c == quote)
          break;
        if (c == L'\\') {
          if (done() || (t_[i_] != L'\\' && t_[i_] != L'"' && t_[i_] != L'\''))
            return std::nullopt;
          c = t_[i_++];
        }
        k.value.push_back(c);
      }
      return k;
    }
    const std::size_t start = i_;
    while (!done() && t_[i_] != L',')
      ++i_;
    k.value = std::wstring(t_.substr(start, i_ - start));
    k.quoted = false;
    if (!is_unquoted_literal(k.value))
      return std::nullopt;
    return k;
  }
  std::size_t pos() const noexcept { return i_; }
  void seek(std::size_t p) noexcept { i_ = p; }

 private:
  std::wstring_view t_;
  std::size_t i_ = 0;
};

bool is_sep(wchar_t c) noexcept {
  return c == L'\\' || c == L'/';
}

// The characters a quoted key value escapes with a backslash.
bool escaped(wchar_t c) noexcept {
  return c == L'\\' || c == L'"';
}

void append_escaped(std::wstring& out, std::wstring_view value) {
  for (wchar_t c : value) {
    if (escaped(c))
      out.push_back(L'\\');
    out.push_back(c);
  }
}

// The length write_relpath() adds, so that a path is rendered into a buffer of its final size.
std::size_t relpath_size(const ObjectPath& p) noexcept {
  std::size_t n = p.class_name.size();
  for (const auto& k : p.keys) {
    n += 2 + k.name.size() + k.value.size();  // separator and '='
    if (k.quoted)
      n += 2 + static_cast<std::size_t>(std::count_if(k.value.begin(), k.value.end(), escaped));
  }
  return n;
}

void write_relpath(const ObjectPath& p, std::wstring& out) {
  out += p.class_name;
  for (std::size_t i = 0; i < p.keys.size(); ++i) {
    const auto& k = p.keys[i];
    if (i == 0) {
      if (!k.name.empty())
        out += L'.';
    } else {
      out += L',';
    }
    out += k.name;
    out += L'=';
    if (k.quoted) {
      out += L'"';
      append_escaped(out, k.value);
      out += L'"';
    } else {
      out += k.value;
    }
  }
}

}  // namespace

std::wstring escape_key_value(std::wstring_view value) {
  std::wstring out;
  out.reserve(value.size() + 2);
  append_escaped(out, value);
  return out;
}

void ObjectPath::append_relpath(std::wstring& out) const {
  out.reserve(out.size() + relpath_size(*this));
  write_relpath(*this, out);
}

std::wstring ObjectPath::relpath() const {
  std::wstring out;
  append_relpath(out);
  return out;
}

std::wstring ObjectPath::str(std::size_t* relpath_at) const {
  std::wstring out;
  out.reserve(server.size() + ns.size() + 4 + relpath_size(*this));  // and four separators
  if (!server.empty()) {
    out += L"\\\\";
    out += server;
    out += L'\\';
  }
  if (!is_relative()) {
    out += ns;
    out += L':';
  }
  if (relpath_at != nullptr)
    *relpath_at = out.size();
  write_relpath(*this, out);
  return out;
}

std::optional<ObjectPath> ObjectPath::parse(std::wstring_view text) {
  ObjectPath p;
  std::size_t body = 0;
  if (text.size() >= 2 && is_sep(text[0]) && is_sep(text[1])) {
    std::size_t i = 2;
    while (i < text.size() && !is_sep(text[i]) && text[i] != L':')
      ++i;
    if (i == 2 || i >= text.size() || !is_sep(text[i]))
      return std::nullopt;
    p.server = std::wstring(text.substr(2, i - 2));
    const std::size_t colon = text.find(L':', i + 1);
    if (colon == std::wstring_view::npos)
      return std::nullopt;
    p.ns = std::wstring(text.substr(i + 1, colon - i - 1));
    body = colon + 1;
  } else {
    // A namespace prefix ends at a colon that comes before any key syntax.
    const std::size_t stop = text.find_first_of(L".=\"'");
    const std::size_t colon = text.find(L':');
    if (colon != std::wstring_view::npos && (stop == std::wstring_view::npos || colon < stop)) {
      p.ns = std::wstring(text.substr(0, colon));
      body = colon + 1;
    }
  }
  if (!p.server.empty() || body > 0) {
    if (p.ns.empty())
      return std::nullopt;
    for (auto& c : p.ns) {
      if (c == L'/')
        c = L'\\';
      else if (!ident_char(c) && c != L'\\')
        return std::nullopt;
    }
    if (p.ns.front() == L'\\' || p.ns.back() == L'\\' || p.ns.find(L"\\\\") != std::wstring::npos)
      return std::nullopt;
    for (wchar_t c : p.server)
      if (!ident_char(c) && c != L'-' && c != L'.')
        return std::nullopt;
  }

  Reader r(text.substr(body));
  auto cls = r.ident();
  if (!cls)
    return std::nullopt;
  p.class_name = std::move(*cls);
  if (r.done())
    return p;
  if (r.eat(L'=')) {
    auto v = r.value();
    if (!v || !r.done())
      return std::nullopt;
    p.keys.push_back(std::move(*v));
    return p;
  }
  if (!r.eat(L'.'))
    return std::nullopt;
  p.keys.reserve(4);
  do {
    auto name = r.ident();
    if (!name || !r.eat(L'='))
      return std::nullopt;
    auto v = r.value();
    if (!v)
      return std::nullopt;
    for (const auto& k : p.keys)
      if (iequals(k.name, *name))
        return std::nullopt;
    v->name = std::move(*name);
    p.keys.push_back(std::move(*v));
  } while (r.eat(L','));
  if (!r.done())
    return std::nullopt;
  return p;
}

ObjectPath make_path(std::wstring server, std::wstring ns, std::wstring class_name, std::vector<KeyBinding> keys) {
  std::stable_sort(keys.begin(), keys.end(),
                   [](const KeyBinding& a, const KeyBinding& b) { return icompare(a.name, b.name) < 0; });
  return ObjectPath{std::move(server), std::move(ns), std::move(class_name), std::move(keys)};
}

}  // namespace simhost::cim
